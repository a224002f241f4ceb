#include "core/base/cleanupmode.h"

namespace {

struct Entry
{
    const char16_t *rawValue;
    const char16_t *label;
    const char16_t *prompt;
};

const Entry entries[] = {
    {u"off", u"Off (raw transcript)", u""},
    {u"clean", u"Clean up",
     u"You clean up dictated speech into polished written text. Fix punctuation, capitalization, and obvious "
     u"speech errors, and remove filler words such as um, uh, and like. Keep the speaker's own wording, meaning, "
     u"and tone."},
    {u"slack", u"Slack message",
     u"You turn dictation into a short, warm, professional Slack message. Keep it concise and first person, plain "
     u"language, no filler. Use short paragraphs or bullets where they help. Keep a greeting or sign-off only if "
     u"the speaker said one. Never use dashes."},
    {u"email", u"Email",
     u"You turn dictation into a clear, warm, professional email body. First person, concise, plain American "
     u"English, no filler. Keep any greeting or sign-off the speaker dictated, and do not invent recipients or a "
     u"subject. Never use dashes."},
    {u"xpost", u"X post",
     u"You turn dictation into a post for X. One tight, punchy post in the speaker's voice, under 280 "
     u"characters, plain language, no hashtags unless the speaker said one, no emoji unless the speaker asked. "
     u"Keep their meaning, cut every filler word. Never use dashes."},
    {u"bullets", u"Bullet points",
     u"You turn dictation into a tight bulleted list of the key points. One idea per bullet, concise, in the "
     u"speaker's order. Keep their meaning and add nothing they did not say. Never use dashes."},
    {u"prompt", u"Agent prompt",
     u"You turn dictation into a clear prompt for an AI coding agent. Lead with the goal in one imperative "
     u"sentence, then list the requirements as short bullets. Keep every technical detail, file name, path, and "
     u"constraint the speaker said, exactly as said. Plain text, no headings, no filler, and add nothing the "
     u"speaker did not ask for."},
};

} // namespace

QList<CleanupMode> CleanupMode::allCases()
{
    return {off, clean, slack, email, xpost, bullets, prompt};
}

std::optional<CleanupMode> CleanupMode::fromRawValue(QStringView rawValue)
{
    for (CleanupMode mode : allCases()) {
        if (rawValue == QStringView(entries[mode.value()].rawValue))
            return mode;
    }
    return std::nullopt;
}

QString CleanupMode::rawValue() const
{
    return QString::fromUtf16(entries[m_case].rawValue);
}

QString CleanupMode::label() const
{
    return QString::fromUtf16(entries[m_case].label);
}

QString CleanupMode::systemPrompt() const
{
    return QString::fromUtf16(entries[m_case].prompt);
}
