#pragma once
// Shared steps of the presets tests: the documents folder pointed into a
// test's own folder for the length of a scope.
#include <cstdlib>
#include <optional>
#include <string>

namespace korvel::test {

class ScopedDocuments {
public:
    explicit ScopedDocuments(const std::string& folder) {
        if (const char* value = std::getenv("XDG_DOCUMENTS_DIR")) saved_ = value;
        setenv("XDG_DOCUMENTS_DIR", folder.c_str(), 1);
    }
    ~ScopedDocuments() {
        if (saved_) setenv("XDG_DOCUMENTS_DIR", saved_->c_str(), 1);
        else unsetenv("XDG_DOCUMENTS_DIR");
    }
    ScopedDocuments(const ScopedDocuments&) = delete;
    ScopedDocuments& operator=(const ScopedDocuments&) = delete;

private:
    std::optional<std::string> saved_;
};

}  // namespace korvel::test
