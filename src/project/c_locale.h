#pragma once
// Numbers in files and network text use '.' as the decimal point whatever
// locale the process runs in (the toolkit sets the user's).
#include <locale.h>

namespace korvel {

// The "C" locale, made once on first use by any thread and immutable
// afterwards; for the *_l conversions. Null when it could not be made.
locale_t CLocale();

// Switches the calling thread to the "C" locale for the scope's life, so the
// printf and strtod families in it read and write '.'; other threads keep
// theirs.
class CLocaleScope {
public:
    CLocaleScope();
    ~CLocaleScope();
    CLocaleScope(const CLocaleScope&) = delete;
    CLocaleScope& operator=(const CLocaleScope&) = delete;

private:
    locale_t previous_{};
};

}  // namespace korvel
