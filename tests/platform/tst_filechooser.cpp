// The file screen's dialogs: what they propose, and that a choice reaches the caller once and a
// cancel not at all. Qt's widget dialog, offscreen.
#include "platform/portal/filechooser.h"
#include "testenvironment.h"

#include <QApplication>
#include <QJSEngine>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFileChooser final : public QObject
{
    Q_OBJECT

private:
    QJSEngine m_engine;
    QTemporaryDir m_folder;

    // A script function, as the screen passes one, that keeps every URL it is given.
    QJSValue recorder()
    {
        m_engine.globalObject().setProperty(u"chosen"_s, m_engine.newArray());
        return m_engine.evaluate(u"(function (url) { chosen.push(String(url)) })"_s);
    }

    QStringList chosen() const { return m_engine.globalObject().property(u"chosen"_s).toVariant().toStringList(); }

private Q_SLOTS:
    void initTestCase()
    {
        // The widget dialog, whatever the machine's platform theme offers.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }

    void openingPicksOneFile()
    {
        const QString file = m_folder.filePath(u"My Talk.wav"_s);
        QVERIFY(TestFiles::write(file, {}));
        FileChooser chooser;
        // Cancelled first: nothing is called, and the dialog is gone.
        chooser.chooseFile(u"Choose"_s, {}, recorder());
        QVERIFY(chooser.dialog());
        chooser.dialog()->reject();
        QTRY_VERIFY(!chooser.dialog());
        QVERIFY(chosen().isEmpty());
        chooser.chooseFile(u"Choose an audio or video file"_s, {u"Audio files (*.wav)"_s, u"Video files (*.mp4)"_s},
                           recorder());
        QFileDialog *dialog = chooser.dialog();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog->nameFilters(), (QStringList{u"Audio files (*.wav)"_s, u"Video files (*.mp4)"_s}));


        dialog->selectFile(file);
        QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
        QCOMPARE(chosen(), QStringList{QUrl::fromLocalFile(file).toString()});
        QTRY_VERIFY(!chooser.dialog());
    }

};

QTEST_MAIN(TestFileChooser)
#include "tst_filechooser.moc"
