#include "core/base/utf8locale.h"

#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <string>
#include <strings.h>

namespace {

bool characterTypeIsUtf8()
{
    const char *codeset = nl_langinfo(CODESET);
    return strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0;
}

// "de_DE.ISO-8859-1@euro" → "de_DE.UTF-8"; the C and POSIX locales have C.UTF-8.
std::string utf8VariantOf(std::string locale)
{
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX")
        return "C.UTF-8";
    return locale + ".UTF-8";
}

constexpr const char *categoryVariables[] = {
    "LC_CTYPE",   "LC_NUMERIC", "LC_TIME",    "LC_COLLATE",   "LC_MONETARY",   "LC_MESSAGES",
    "LC_PAPER",   "LC_NAME",    "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION",
};

} // namespace

void ensureUtf8CharacterType()
{
    // setlocale() fails when the environment names a locale this system lacks.
    if (!std::setlocale(LC_ALL, "") || characterTypeIsUtf8())
        return;

    std::string candidate = utf8VariantOf(std::setlocale(LC_CTYPE, nullptr));
    if (!std::setlocale(LC_CTYPE, candidate.c_str())) {
        candidate = "C.UTF-8";
        if (!std::setlocale(LC_CTYPE, candidate.c_str()))
            return;
    }

    // LC_ALL outranks LC_CTYPE. Every category falls back to LANG where nothing else names
    // it, so LC_ALL's value there, with the other category variables (which LC_ALL hid)
    // gone, keeps every category but the character type as it was.
    if (const char *all = std::getenv("LC_ALL"); all && *all) {
        const std::string value = all;
        for (const char *variable : categoryVariables)
            unsetenv(variable);
        unsetenv("LC_ALL");
        setenv("LANG", value.c_str(), 1);
    }
    setenv("LC_CTYPE", candidate.c_str(), 1);
    std::setlocale(LC_ALL, "");
}
