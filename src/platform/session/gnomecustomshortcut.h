#pragma once

#include "core/desktop/commandshortcut.h"
#include "platform/x11/keyturns.h"

#include <chrono>
#include <optional>
#include <QCoroTask>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QStringView>

// Murmel's own entry among GNOME's custom keyboard shortcuts (Settings › Keyboard › Custom
// Shortcuts), for GNOME versions whose shell offers no GlobalShortcuts portal: GNOME's
// settings daemon watches the key and runs the command. The entry lives at a fixed path of
// its own, so it is found and removed again without touching the user's other shortcuts.
//
// Everything goes through the `gsettings` program, run without a shell and awaited, so the
// main thread never blocks and the desktop's own settings backend (dconf) does the writing.
// A `gsettings` that does not answer within the timeout is killed and counts as a failure;
// every failure is logged under murmel.platform with its reason.
//
// Main thread only; the object must outlive the operations it has begun. Changes run one
// at a time, since each one reads, edits and writes back the desktop's whole list.
class GnomeCustomShortcut final : public QObject, public CommandShortcut
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultTimeout{5000};

    explicit GnomeCustomShortcut(std::chrono::milliseconds timeout = defaultTimeout,
                                 QObject *parent = nullptr);

    // The object path of Murmel's entry in the list of custom shortcuts.
    static QString entryPath();

    // Whether GNOME's media-keys schema with its list of custom shortcuts is installed.
    QCoro::Task<bool> isSupported() override;

    // The accelerator of Murmel's entry ("<Control><Alt>space") while the entry is in the
    // list; nothing when it is not, or when the settings cannot be read.
    QCoro::Task<std::optional<QString>> binding() override;

    // Writes Murmel's entry with `shortcut` and `command`, then adds it to the list after the
    // user's own entries (once). True only when reading back finds it listed with this binding.
    QCoro::Task<bool> set(Shortcut shortcut, QString command) override;

    // Takes Murmel's entry out of the list, leaving every other entry as it was, and resets
    // its keys. True when the entry is not listed afterwards, including when it never was.
    QCoro::Task<bool> remove() override;

private:
    // The standard output of `gsettings arguments`, or nothing when it could not run, failed
    // or hung (each logged).
    QCoro::Task<std::optional<QByteArray>> gsettings(QStringList arguments);
    QCoro::Task<std::optional<QStringList>> readList();
    QCoro::Task<bool> writeList(QStringList paths);

    std::chrono::milliseconds m_timeout;
    KeyTurns m_turns;
};

// The GVariant text format that `gsettings get` prints and `gsettings set` reads, for the
// two types the entry uses. Pure functions, any thread.
namespace GVariantText {

// A string in either quote style; a backslash makes the next character stand for itself.
std::optional<QString> string(QStringView text);

// An array of strings, "['/a/', \"/b/\"]" or "@as []"; nothing for anything else, so that a
// list that cannot be read is never taken for an empty one.
std::optional<QStringList> stringArray(QStringView text);

// The single-quoted literal for `value` that `string` reads back unchanged.
QString literal(QStringView value);

} // namespace GVariantText
