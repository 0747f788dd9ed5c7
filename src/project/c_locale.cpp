#include "project/c_locale.h"

namespace korvel {

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

CLocaleScope::CLocaleScope() {
    if (const locale_t c = CLocale(); c != locale_t{}) previous_ = uselocale(c);
}

CLocaleScope::~CLocaleScope() {
    if (previous_ != locale_t{}) uselocale(previous_);
}

}  // namespace korvel
