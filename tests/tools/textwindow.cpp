// textwindow: a window with one focused text field, for tests that type or paste into a real
// application on a test display and need to see exactly what arrived.
//
// Usage: textwindow [--title TEXT] [--class NAME] [--terminal] [--focus field|button]
//   --title TEXT    the window title (default "Murmel text window")
//   --class NAME    the WM_CLASS instance name (the class name is NAME with a capital)
//   --terminal      behave like a terminal: WM_CLASS "gnome-terminal-server" unless --class
//                   says otherwise; Ctrl+Shift+V pastes the clipboard, Shift+Insert the primary
//                   selection, and Ctrl+V types the control character U+0016 as a shell would
//                   receive it
//   --focus button  put the focus on a push button instead of the text field, for an element
//                   that takes no text
//
// Standard output, one JSON object per line, flushed at once:
//   {"event":"ready","window":1234567}    once the window is active; "window" is its X id
//   {"event":"active","active":false}     whenever the window gains or loses the focus
//   {"event":"text","text":"…"}           after every change of the field's whole text
//   {"event":"key","key":"V","modifiers":["ctrl","shift"],"text":"\u0016"}
//                                         for every key press the focused widget receives
#include <cstdio>
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

namespace {

void emitLine(const QJsonObject &object)
{
    std::fputs(QJsonDocument(object).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QJsonArray modifierNames(Qt::KeyboardModifiers modifiers)
{
    QJsonArray names;
    if (modifiers & Qt::ControlModifier)
        names.append(QStringLiteral("ctrl"));
    if (modifiers & Qt::AltModifier)
        names.append(QStringLiteral("alt"));
    if (modifiers & Qt::ShiftModifier)
        names.append(QStringLiteral("shift"));
    if (modifiers & Qt::MetaModifier)
        names.append(QStringLiteral("super"));
    return names;
}

bool is(const QKeyEvent *event, Qt::Key key, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers relevant =
        Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier;
    return event->key() == key && (event->modifiers() & relevant) == modifiers;
}

// Reports every key press and, in terminal mode, gives the paste keys a terminal's meaning.
class KeyWatcher final : public QObject
{
public:
    KeyWatcher(QPlainTextEdit *field, bool terminal)
        : m_field(field)
        , m_terminal(terminal)
    {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool activation =
            event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate;
        if (activation && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()) {
            const bool active = event->type() == QEvent::WindowActivate;
            if (active && !m_ready) {
                m_ready = true;
                emitLine({{QStringLiteral("event"), QStringLiteral("ready")},
                          {QStringLiteral("window"),
                           qint64(static_cast<QWidget *>(watched)->winId())}});
            }
            emitLine({{QStringLiteral("event"), QStringLiteral("active")},
                      {QStringLiteral("active"), active}});
        }
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        emitLine({{QStringLiteral("event"), QStringLiteral("key")},
                  {QStringLiteral("key"), QKeySequence(key->key()).toString()},
                  {QStringLiteral("modifiers"), modifierNames(key->modifiers())},
                  {QStringLiteral("text"), key->text()}});
        if (!m_terminal || watched != m_field)
            return false;
        if (is(key, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier)) {
            m_field->insertPlainText(QGuiApplication::clipboard()->text(QClipboard::Clipboard));
            return true;
        }
        if (is(key, Qt::Key_Insert, Qt::ShiftModifier)) {
            m_field->insertPlainText(QGuiApplication::clipboard()->text(QClipboard::Selection));
            return true;
        }
        if (is(key, Qt::Key_V, Qt::ControlModifier)) {
            m_field->insertPlainText(QString(QChar(0x16)));
            return true;
        }
        return false;
    }

private:
    QPlainTextEdit *m_field;
    bool m_terminal;
    bool m_ready = false;
};

} // namespace

int main(int argc, char **argv)
{
    QString title = QStringLiteral("Murmel text window");
    QString className;
    bool terminal = false;
    bool focusButton = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        if (argument == "--title" && i + 1 < argc) {
            title = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--class" && i + 1 < argc) {
            className = QString::fromLocal8Bit(argv[++i]);
        } else if (argument == "--terminal") {
            terminal = true;
        } else if (argument == "--focus" && i + 1 < argc) {
            focusButton = QByteArray(argv[++i]) == "button";
        } else {
            std::fprintf(stderr, "textwindow: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (className.isEmpty())
        className =
            terminal ? QStringLiteral("gnome-terminal-server") : QStringLiteral("textwindow");
    // Qt's X11 platform takes the WM_CLASS instance name from RESOURCE_NAME and the class
    // name from the application name.
    qputenv("RESOURCE_NAME", className.toLocal8Bit());
    QString wmClassName = className;
    wmClassName[0] = wmClassName.at(0).toUpper();

    QApplication app(argc, argv);
    QApplication::setApplicationName(wmClassName);

    QWidget window;
    window.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&window);
    auto *field = new QPlainTextEdit(&window);
    field->setAccessibleName(QStringLiteral("Text"));
    auto *button = new QPushButton(QStringLiteral("Button"), &window);
    layout->addWidget(field);
    layout->addWidget(button);
    window.resize(480, 320);

    KeyWatcher watcher(field, terminal);
    window.installEventFilter(&watcher);
    field->installEventFilter(&watcher);
    button->installEventFilter(&watcher);
    QObject::connect(field, &QPlainTextEdit::textChanged, field, [field] {
        emitLine({{QStringLiteral("event"), QStringLiteral("text")},
                  {QStringLiteral("text"), field->toPlainText()}});
    });

    window.show();
    if (focusButton)
        button->setFocus();
    else
        field->setFocus();
    return app.exec();
}
