#include "core/base/whisperlanguage.h"

namespace {

struct Entry
{
    const char16_t *code;
    const char16_t *name;
};

// The engine's language table, in its order, with "auto" first.
const Entry entries[] = {
    {u"auto", u"auto"},
    {u"en", u"english"},
    {u"zh", u"chinese"},
    {u"de", u"german"},
    {u"es", u"spanish"},
    {u"ru", u"russian"},
    {u"ko", u"korean"},
    {u"fr", u"french"},
    {u"ja", u"japanese"},
    {u"pt", u"portuguese"},
    {u"tr", u"turkish"},
    {u"pl", u"polish"},
    {u"ca", u"catalan"},
    {u"nl", u"dutch"},
    {u"ar", u"arabic"},
    {u"sv", u"swedish"},
    {u"it", u"italian"},
    {u"id", u"indonesian"},
    {u"hi", u"hindi"},
    {u"fi", u"finnish"},
    {u"vi", u"vietnamese"},
    {u"iw", u"hebrew"},
    {u"uk", u"ukrainian"},
    {u"el", u"greek"},
    {u"ms", u"malay"},
    {u"cs", u"czech"},
    {u"ro", u"romanian"},
    {u"da", u"danish"},
    {u"hu", u"hungarian"},
    {u"ta", u"tamil"},
    {u"no", u"norwegian"},
    {u"th", u"thai"},
    {u"ur", u"urdu"},
    {u"hr", u"croatian"},
    {u"bg", u"bulgarian"},
    {u"lt", u"lithuanian"},
    {u"la", u"latin"},
    {u"mi", u"maori"},
    {u"ml", u"malayalam"},
    {u"cy", u"welsh"},
    {u"sk", u"slovak"},
    {u"te", u"telugu"},
    {u"fa", u"persian"},
    {u"lv", u"latvian"},
    {u"bn", u"bengali"},
    {u"sr", u"serbian"},
    {u"az", u"azerbaijani"},
    {u"sl", u"slovenian"},
    {u"kn", u"kannada"},
    {u"et", u"estonian"},
    {u"mk", u"macedonian"},
    {u"br", u"breton"},
    {u"eu", u"basque"},
    {u"is", u"icelandic"},
    {u"hy", u"armenian"},
    {u"ne", u"nepali"},
    {u"mn", u"mongolian"},
    {u"bs", u"bosnian"},
    {u"kk", u"kazakh"},
    {u"sq", u"albanian"},
    {u"sw", u"swahili"},
    {u"gl", u"galician"},
    {u"mr", u"marathi"},
    {u"pa", u"punjabi"},
    {u"si", u"sinhala"},
    {u"km", u"khmer"},
    {u"sn", u"shona"},
    {u"yo", u"yoruba"},
    {u"so", u"somali"},
    {u"af", u"afrikaans"},
    {u"oc", u"occitan"},
    {u"ka", u"georgian"},
    {u"be", u"belarusian"},
    {u"tg", u"tajik"},
    {u"sd", u"sindhi"},
    {u"gu", u"gujarati"},
    {u"am", u"amharic"},
    {u"yi", u"yiddish"},
    {u"lo", u"lao"},
    {u"uz", u"uzbek"},
    {u"fo", u"faroese"},
    {u"ht", u"haitiancreole"},
    {u"ps", u"pashto"},
    {u"tk", u"turkmen"},
    {u"nn", u"nynorsk"},
    {u"mt", u"maltese"},
    {u"sa", u"sanskrit"},
    {u"lb", u"luxembourgish"},
    {u"my", u"myanmar"},
    {u"bo", u"tibetan"},
    {u"tl", u"tagalog"},
    {u"mg", u"malagasy"},
    {u"as", u"assamese"},
    {u"tt", u"tatar"},
    {u"haw", u"hawaiian"},
    {u"ln", u"lingala"},
    {u"ha", u"hausa"},
    {u"ba", u"bashkir"},
    {u"jw", u"javanese"},
    {u"su", u"sundanese"},
};

constexpr int entryCount = static_cast<int>(std::size(entries));

} // namespace

QList<WhisperLanguage> WhisperLanguage::allCases()
{
    QList<WhisperLanguage> all;
    all.reserve(entryCount);
    for (int i = 0; i < entryCount; ++i)
        all << WhisperLanguage(i);
    return all;
}

std::optional<WhisperLanguage> WhisperLanguage::fromRawValue(QStringView code)
{
    for (int i = 0; i < entryCount; ++i) {
        if (code == QStringView(entries[i].code))
            return WhisperLanguage(i);
    }
    return std::nullopt;
}

WhisperLanguage WhisperLanguage::automatic()
{
    return WhisperLanguage(0);
}

QString WhisperLanguage::rawValue() const
{
    return QString::fromUtf16(entries[m_index].code);
}

QString WhisperLanguage::name() const
{
    return QString::fromUtf16(entries[m_index].name);
}

QByteArray WhisperLanguage::engineCode() const
{
    const QString code = rawValue();
    return code == u"iw" ? QByteArrayLiteral("he") : code.toLatin1();
}
