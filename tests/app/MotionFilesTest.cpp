// Opening and saving motion files through the window's dialogs.
#include "DialogDouble.h"
#include "FormAccess.h"
#include "uMain.h"

#include "MotionFile.h"
#include "MotionTable.h"

#ifdef Q_OS_UNIX
#include "Fifo.h"
#endif

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const QString kZeros = "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0";

class MotionFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        form.show();
    }
    void Click(const char* name) {
        QTest::mouseClick(form.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    }
    QString Path(const char* name) const { return QDir::toNativeSeparators(dir.filePath(name)); }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    QTemporaryDir dir;
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access{form};
};

} // namespace

TEST_F(MotionFiles, SaveWritesTheTableAndClearsTheFlag) {
    access.SetCell(0, 1, " 12 ");
    access.SetCell(1, 2, "1,5");
    access.SetCell(2, 3, "say \"hi\"");
    access.SetDataChanged(true);
    const QString path = Path("walk.kmf");
    dialogs.fileAnswers = {path};
    Click("btnFileSave");
    EXPECT_EQ(dialogs.Texts(ShownDialog::File), QStringList{"Save KOBITO motion file"});
    EXPECT_FALSE(access.DataChanged());
    EXPECT_EQ(form.windowTitle(), "KOBITO Motion Version 1.10");

    const QList<QByteArray> lines = Read(path).split('\n');
    ASSERT_EQ(lines.size(), 101);
    EXPECT_EQ(lines[0], "12,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\r");
    EXPECT_EQ(lines[1], "0,\"1,5\",0,0,0,0,0,0,0,0,0,0,0,0,0,0\r");
    EXPECT_EQ(lines[2], "0,0,\"say \"\"hi\"\"\",0,0,0,0,0,0,0,0,0,0,0,0,0\r");
    EXPECT_EQ(lines[99], kZeros.toLatin1() + "\r");
    EXPECT_TRUE(lines[100].isEmpty());

    // Opened again, the table reads back as it was saved.
    Click("btnFileNew");
    dialogs.fileAnswers = {path};
    Click("btnFileOpen");
    EXPECT_EQ(access.Cell(0, 1), "12");
    EXPECT_EQ(access.Cell(1, 2), "1,5");
    EXPECT_EQ(access.Cell(2, 3), "say \"hi\"");
    EXPECT_EQ(form.windowTitle(), path);
    EXPECT_FALSE(access.DataChanged());
}

TEST_F(MotionFiles, TheCaptionShowsTheOpenedPathAsItIs) {
    // "[*]" is the title's modified marker and would vanish from the path.
    // Windows allows no "*" in a file name.
#ifdef _WIN32
    for (const char* name : {"R&D.kmf", "[1].kmf"}) {
#else
    for (const char* name : {"a[*]b.kmf", "R&D.kmf", "[*][*].kmf"}) {
#endif
        SCOPED_TRACE(name);
        const QString path = Path(name);
        Write(path, "1,2\r\n");
        dialogs.fileAnswers = {path};
        Click("btnFileOpen");
        EXPECT_EQ(access.Cell(0, 1), "1");
        EXPECT_EQ(form.windowHandle()->title(), path);
    }
}

TEST_F(MotionFiles, AFailedSaveKeepsTheOldFileTheFlagAndTheCaption) {
    const QString path = Path("keep.kmf");
    Write(path, "old motion\r\n");
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    access.SetDataChanged(true);
    // A folder in place of the file: the save cannot replace it.
    dialogs.fileAnswers = {Path("sub")};
    Click("btnFileSave");
    const QStringList errors = dialogs.Texts(ShownDialog::Exception);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(dir.filePath("sub"))) << errors[0].toStdString();
    EXPECT_TRUE(access.DataChanged());
    EXPECT_EQ(form.windowTitle(), "KOBITO Motion Version 1.10");
    EXPECT_EQ(Read(path), "old motion\r\n");
}

TEST_F(MotionFiles, OpenFillsTheTableFromAnyLineEndAndMark) {
    // UTF-8 mark, LF line ends, a blank middle line, short and long lines.
    Write(Path("in.kmf"), "\xEF\xBB\xBF"
                          "1,2,3\n\n5,5,5,5,5,5,5,5,5,5,5,5,5,5,5,5,9,9,9,9\n");
    access.SetCell(50, 1, "x");
    dialogs.fileAnswers = {Path("in.kmf")};
    Click("btnFileOpen");
    EXPECT_EQ(access.RowText(0), "1,2,3,0,0,0,0,0,0,0,0,0,0,0,0,0");
    EXPECT_EQ(access.RowText(1), kZeros);
    EXPECT_EQ(access.RowText(2), "5,5,5,5,5,5,5,5,5,5,5,5,5,5,5,5");
    EXPECT_EQ(access.RowText(50), kZeros);
    EXPECT_EQ(access.SelectedRow(), 0);
    EXPECT_EQ(dialogs.Texts(ShownDialog::File), QStringList{"Open KOBITO motion file"});
}

TEST_F(MotionFiles, AReadErrorLeavesAClearedTableNamedAfterTheFile) {
    access.SetCell(3, 3, "7");
    const QString missing = Path("gone.kmf");
    dialogs.fileAnswers = {missing};
    Click("btnFileOpen");
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
              QStringList{"ファイル読み込みエラー\r\nFile read error\r\n\r\n" + missing});
    EXPECT_EQ(access.RowText(3), kZeros);
    EXPECT_EQ(form.windowTitle(), missing);
    EXPECT_FALSE(access.DataChanged());
}

// A file named on the command line: a relative name, as a terminal gives it,
// becomes the full path in the caption; an unreadable one is reported.
TEST_F(MotionFiles, OpeningANamedFileActsAsOpenWithoutItsDialog) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
    Write(Path("walk.kmf"), "1,2,3\r\n4\r\n");
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    form.OpenMotionFile("sub/../walk.kmf");
    QDir::setCurrent(before);
    EXPECT_EQ(form.windowTitle(), Path("walk.kmf"));
    EXPECT_EQ(access.RowText(0), "1,2,3,0,0,0,0,0,0,0,0,0,0,0,0,0");
    EXPECT_EQ(access.RowText(1), "4,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0");
    EXPECT_EQ(access.SelectedRow(), 0);
    EXPECT_FALSE(access.DataChanged());
    EXPECT_TRUE(dialogs.Texts(ShownDialog::File).isEmpty());

    form.OpenMotionFile(Path("gone.kmf"));
    EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
              QStringList{"ファイル読み込みエラー\r\nFile read error\r\n\r\n" + Path("gone.kmf")});
    EXPECT_EQ(access.RowText(0), kZeros);
    EXPECT_EQ(form.windowTitle(), Path("gone.kmf"));
    EXPECT_FALSE(access.DataChanged());
}

// Open reads regular files only, and none larger than any motion file: a device or a pipe named
// on the command line or chosen in the dialog neither blocks the window nor fills the memory.
// Each is the usual read error.
TEST_F(MotionFiles, OpenRefusesDevicesPipesAndOversizedFiles) {
    const QString big = Path("big.kmf");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.write("1,2,3\r\n") == 7 && f.resize(kobito::MotionFileMaxBytes + 1));
    }
    QStringList paths{big};
#ifdef Q_OS_UNIX
    const kobito::test::UnwrittenFifo fifo(Path("pipe.kmf").toStdString());
    paths << QString::fromStdString(fifo.path()) << "/dev/zero";
#endif
    for (const QString& path : paths) {
        for (const bool dialog : {false, true}) {
            SCOPED_TRACE(path.toStdString() + (dialog ? " from the dialog" : " by name"));
            access.SetCell(3, 3, "7");
            access.SetDataChanged(false);
            dialogs.shown.clear();
            if (dialog) {
                dialogs.fileAnswers = {path};
                Click("btnFileOpen");
            } else {
                form.OpenMotionFile(path);
            }
            EXPECT_EQ(dialogs.Texts(ShownDialog::Error),
                      QStringList{"ファイル読み込みエラー\r\nFile read error\r\n\r\n" + path});
            EXPECT_EQ(access.RowText(0), kZeros);
            EXPECT_EQ(access.RowText(3), kZeros);
            EXPECT_EQ(form.windowTitle(), path);
        }
    }
}

TEST_F(MotionFiles, OpenAsksBeforeDiscardingAndCancelChangesNothing) {
    access.SetCell(3, 3, "7");
    access.SetDataChanged(true);
    dialogs.yesNoAnswers = {false};
    Click("btnFileOpen");
    EXPECT_TRUE(dialogs.Texts(ShownDialog::File).isEmpty());

    dialogs.yesNoAnswers = {true};
    dialogs.fileAnswers = {std::nullopt};
    Click("btnFileOpen");
    dialogs.fileAnswers = {std::nullopt};
    Click("btnFileSave");
    EXPECT_EQ(dialogs.Texts(ShownDialog::File).size(), 2);
    EXPECT_EQ(access.Cell(3, 3), "7");
    EXPECT_TRUE(access.DataChanged());
    EXPECT_EQ(form.windowTitle(), "KOBITO Motion Version 1.10");
}

TEST(MotionFileDialogs, FilterMotionFilesAddTheExtensionAndAreKept) {
    FreshSettings fresh;
    DialogDouble dialogs;
    TForm1 form;
    TForm1Access access(form);
    EXPECT_EQ(form.findChild<QFileDialog*>(), nullptr) << "made on first use";
    for (const bool save : {false, true}) {
        QFileDialog* dialog = access.MotionFileDialog(save);
        EXPECT_EQ(dialog, access.MotionFileDialog(save)) << "and kept";
        EXPECT_EQ(dialog->objectName(), save ? "SaveDialog" : "OpenDialog");
        EXPECT_EQ(dialog->nameFilters(),
                  QStringList({"KOBITO motion file(*.kmf)", "All files(*.*)"}));
        EXPECT_EQ(dialog->defaultSuffix(), "kmf");
    }
    EXPECT_EQ(form.findChild<QFileDialog*>("OpenDialog")->fileMode(), QFileDialog::ExistingFile);
    EXPECT_FALSE(
        form.findChild<QFileDialog*>("SaveDialog")->testOption(QFileDialog::DontConfirmOverwrite));
}

TEST_F(MotionFiles, KeyboardShortcutsRunTheFileButtons) {
    QApplication::setActiveWindow(&form);
    access.SetCell(3, 3, "7");
    QTest::keyClick(&form, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(access.RowText(3), kZeros) << "New on an unmodified table";
    const QString path = Path("keys.kmf");
    dialogs.fileAnswers = {path};
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QFile::exists(path));
    dialogs.fileAnswers = {path};
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(form.windowTitle(), path);
    EXPECT_EQ(dialogs.Texts(ShownDialog::File),
              QStringList({"Save KOBITO motion file", "Open KOBITO motion file"}));
}
