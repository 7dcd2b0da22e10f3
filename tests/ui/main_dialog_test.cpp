// The main dialog's lists, buttons and stored values.
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "pdf_settings.h"
#include "platform/msgbox.h"
#include "platform/windows.h"
#include "ui.h"
#include "ui_fixture.h"

namespace {

using uitest::Click;
using uitest::Control;
using vellumate::ui::CMainDlg;

class MainDialog : public uitest::UiTest {
protected:
    // Selects exactly the input entries at `rows`.
    static void Select(CMainDlg& d, std::initializer_list<int> rows) {
        auto* list = Control<QTreeWidget>(&d, 1000);
        list->clearSelection();
        for (int r : rows) list->topLevelItem(r)->setSelected(true);
    }
    std::string File(const std::string& name) { return sandbox->Write(name, "x"); }
};

TEST_F(MainDialog, AddFileKeepsOneEntryPerPathWhateverTheCase) {
    const QString a = QString::fromStdString(File("in/a.html"));
    filesAnswer = {a, a.toUpper(), QString::fromStdString(File("in/b.txt"))};
    auto d = MakeDialog();
    EXPECT_FALSE(Control<QPushButton>(d.get(), 1008)->isEnabled());
    Click(Control<QPushButton>(d.get(), 1001));
    EXPECT_EQ(d->Inputs(), (QStringList{a, QString::fromStdString(sandbox->Path("in/b.txt"))}));
    EXPECT_TRUE(Control<QPushButton>(d.get(), 1008)->isEnabled());
    // Nothing is selected: the list commands wait for a selection.
    for (int id : {1003, 1004, 1005}) EXPECT_FALSE(Control<QPushButton>(d.get(), id)->isEnabled()) << id;
}

TEST_F(MainDialog, TheLimitWarnsAndStopsAdding) {
    filesAnswer = {QString::fromStdString(File("a.txt")), QString::fromStdString(File("b.txt")),
                   QString::fromStdString(File("c.txt"))};
    auto d = MakeDialog(2);
    Click(Control<QPushButton>(d.get(), 1001));
    EXPECT_EQ(d->Inputs().size(), 2);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Limit exceeded. You can't add any more file."});
    Click(Control<QPushButton>(d.get(), 1001));  // full already: the warning, and no chooser
    EXPECT_EQ(BoxTexts().size(), 2u);
}

TEST_F(MainDialog, AddFolderGroupsByPatternAcrossTheTree) {
    for (const char* f : {"tree/b.chm", "tree/a.txt", "tree/sub/c.txt", "tree/sub/d.CHM", "tree/e.pdf", "tree/f.html",
                          "tree/g.htm"})
        File(f);
    std::filesystem::create_directory_symlink(sandbox->Path("tree"), sandbox->Path("tree/sub/loop"));
    const QString tree = QString::fromStdString(sandbox->Path("tree"));
    folderAnswer = vellumate::ui::Choosers::FolderChoice{tree + "/", true};
    auto d = MakeDialog();
    Click(Control<QPushButton>(d.get(), 1002));
    EXPECT_EQ(d->Inputs(), (QStringList{tree + "/a.txt", tree + "/sub/c.txt", tree + "/b.chm", tree + "/sub/d.CHM",
                                        tree + "/g.htm", tree + "/f.html"}));
    EXPECT_EQ(d->LastOpenFolder(), tree + "/");
    EXPECT_TRUE(Control<QPushButton>(d.get(), 1008)->isEnabled());

    // Without subfolders only the folder itself; known entries are not added twice.
    folderAnswer = vellumate::ui::Choosers::FolderChoice{tree + "/sub", false};
    Click(Control<QPushButton>(d.get(), 1002));
    EXPECT_EQ(d->Inputs().size(), 6);
}

TEST_F(MainDialog, MovingFollowsTheEnablingRules) {
    for (const char* f : {"1.txt", "2.txt", "3.txt", "4.txt"}) filesAnswer << QString::fromStdString(File(f));
    auto d = MakeDialog();
    Click(Control<QPushButton>(d.get(), 1001));
    auto name = [&](int i) { return d->Inputs()[i].section('/', -1); };

    Select(*d, {0});
    EXPECT_FALSE(Control<QPushButton>(d.get(), 1004)->isEnabled());
    EXPECT_TRUE(Control<QPushButton>(d.get(), 1005)->isEnabled());
    Click(Control<QPushButton>(d.get(), 1005));
    EXPECT_EQ(name(1), "1.txt");

    Select(*d, {2, 3});
    EXPECT_FALSE(Control<QPushButton>(d.get(), 1005)->isEnabled());
    Click(Control<QPushButton>(d.get(), 1004));
    EXPECT_EQ((QStringList{name(0), name(1), name(2), name(3)}), (QStringList{"2.txt", "3.txt", "4.txt", "1.txt"}));

    // A drag from entry 3 dropped on entry 0 moves the selection up by 3; the
    // walk stops at the first entry that would leave the list.
    Select(*d, {1, 3});
    d->BeginDrag(3);
    d->DropOn(0);
    EXPECT_EQ((QStringList{name(0), name(1), name(2), name(3)}), (QStringList{"2.txt", "3.txt", "4.txt", "1.txt"}));
    // Dropped where it began: nothing moves.
    Select(*d, {3});
    d->BeginDrag(3);
    d->DropOn(3);
    EXPECT_EQ(name(3), "1.txt");
    d->BeginDrag(3);
    d->DropOn(0);
    EXPECT_EQ(name(0), "1.txt");

    // Delete removes the selection; Convert stays enabled on an empty list.
    Control<QTreeWidget>(d.get(), 1000)->selectAll();
    Control<QTreeWidget>(d.get(), 1000)->setFocus();
    QTest::keyClick(Control<QTreeWidget>(d.get(), 1000), Qt::Key_Delete);
    EXPECT_TRUE(d->Inputs().isEmpty());
    EXPECT_TRUE(Control<QPushButton>(d.get(), 1008)->isEnabled());
    filesAnswer = {filesAnswer.front()};
    Click(Control<QPushButton>(d.get(), 1001));
    EXPECT_EQ(d->Inputs().size(), 1) << "a removed path can be added again";
}

TEST_F(MainDialog, StoredValuesAreReadAtStartAndWrittenAtClose) {
    const std::string save = sandbox->Path("save");
    std::filesystem::create_directories(save);
    ASSERT_TRUE(vellumate::WriteRegString("", "SaveFolder", save));
    ASSERT_TRUE(vellumate::WriteRegString("", "LastOpenFolder", sandbox->Path("gone")));
    ASSERT_TRUE(vellumate::WriteRegInt("", "MakeOne", 1));
    ASSERT_TRUE(vellumate::WriteRegInt("", "IsSimpleMode", 0));
    vellumate::PdfSettings stored;
    stored.JPEGQuality = 42;
    ASSERT_TRUE(stored.Save());

    auto d = MakeDialog();
    EXPECT_EQ(Control<QLineEdit>(d.get(), 1012)->text().toStdString(), save);
    EXPECT_TRUE(Control<QCheckBox>(d.get(), 1110)->isChecked());
    // A stored folder that does not exist gives the documents folder.
    EXPECT_NE(d->LastOpenFolder().toStdString(), sandbox->Path("gone"));
    EXPECT_TRUE(std::filesystem::is_directory(d->LastOpenFolder().toStdString()));
    EXPECT_FALSE(d->SettingsDialog().simpleMode);
    EXPECT_EQ(ctx.settings.JPEGQuality, 42);

    saveFolderAnswer = QString::fromStdString(sandbox->Path("chosen"));
    Click(Control<QPushButton>(d.get(), 1013));
    EXPECT_EQ(Control<QLineEdit>(d.get(), 1012)->text(), *saveFolderAnswer);
    Control<QCheckBox>(d.get(), 1110)->setChecked(false);
    d->show();
    d->close();
    std::string value;
    ASSERT_TRUE(vellumate::ReadRegString("", "SaveFolder", &value));
    EXPECT_EQ(value, sandbox->Path("chosen"));
    ASSERT_TRUE(vellumate::ReadRegString("", "LastOpenFolder", &value));
    EXPECT_EQ(value, d->LastOpenFolder().toStdString());
    std::int32_t makeOne = -1;
    ASSERT_TRUE(vellumate::ReadRegInt("", "MakeOne", &makeOne));
    EXPECT_EQ(makeOne, 0);
}

TEST_F(MainDialog, OpeningDocumentsAndTheFolder) {
    const QString a = QString::fromStdString(File("a.txt"));
    filesAnswer = {a};
    auto d = MakeDialog();
    d->show();
    // A double click on the input list's empty space adds files; on an entry it opens it.
    auto* input = Control<QTreeWidget>(d.get(), 1000);
    QTest::mouseDClick(input->viewport(), Qt::LeftButton, {}, QPoint(5, input->viewport()->height() - 3));
    ASSERT_EQ(d->Inputs(), QStringList{a});
    QTest::mouseDClick(input->viewport(), Qt::LeftButton, {}, input->visualItemRect(input->topLevelItem(0)).center());
    // Enter in the output list with nothing selected opens the save folder.
    QTest::keyClick(Control<QTreeWidget>(d.get(), 1006), Qt::Key_Return);
    EXPECT_EQ(sandbox->Opened(), (std::vector<std::string>{a.toStdString(), d->SaveFolderText().toStdString()}));

    // An opener that fails: message 2035 names the path.
    sandbox->Write("fail.sh", "#!/bin/sh\nexit 3\n");
    std::filesystem::permissions(sandbox->Path("fail.sh"), std::filesystem::perms::owner_all);
    ::setenv("VELLUMATE_OPEN", sandbox->Path("fail.sh").c_str(), 1);
    d->OpenDocument(a);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Can't create process \"" + a.toStdString() + "\"."});
}

}  // namespace

namespace {

// With a display the suite's boxes are the toolkit's dialogs, still logged.
TEST_F(MainDialog, MessageBoxesAreRealDialogsWithADisplay) {
    ::setenv("DISPLAY", ":vm-test", 1);
    vellumate::ui::InstallMessageBoxes();
    QString shownText, shownTitle;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        shownTitle = box->windowTitle();
        box->button(QMessageBox::Yes)->click();
    });
    const auto answer = platform::MessageBox("Tessaline Quorvel", "Do you want to open it?",
                                             platform::MsgIcon::Information, platform::MsgButtons::YesNo);
    platform::SetMessageBoxUi({});
    ::unsetenv("DISPLAY");
    EXPECT_EQ(answer, platform::MsgAnswer::Yes);
    EXPECT_EQ(shownTitle, "Tessaline Quorvel");
    EXPECT_EQ(shownText, "Do you want to open it?");
    ASSERT_EQ(sandbox->Boxes().size(), 1u);
    EXPECT_NE(sandbox->Boxes()[0].find("\"answer\":\"yes\""), std::string::npos) << sandbox->Boxes()[0];
}

}  // namespace

namespace {

// Another process finds the window by its title and hands it a print job.
TEST_F(MainDialog, PrintJobArrivesAsCopyDataFromAnotherProcess) {
    auto d = MakeDialog();
    ctx.printJobId = 32768;
    const std::string title = d->windowTitle().toStdString();
    const std::string ticket = sandbox->Path("spool/job.ini");
    pid_t pid = ::fork();
    if (pid == 0) {
        const platform::HWND hwnd = platform::FindWindow(nullptr, title.c_str());
        if (!hwnd) ::_exit(10);
        platform::WindowMessage job;
        job.msg = platform::WM_COPYDATA;
        job.copyDataId = 32768;
        job.copyData = ticket;
        job.copyData.resize(260, '\0');  // the pipeline's fixed block
        platform::LRESULT r = 0;
        if (!platform::SendMessage(hwnd, job, &r) || r != 1) ::_exit(11);
        // Another identifier is answered and ignored.
        platform::WindowMessage other = job;
        other.copyDataId = 7;
        other.copyData = "not a job";
        if (!platform::SendMessage(hwnd, other, &r) || r != 1) ::_exit(12);
        ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    // The messages are taken on the event loop, which runs here meanwhile.
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ctx.receivedPrintJob, ticket);

    // Gone with the window.
    d.reset();
    EXPECT_EQ(platform::FindWindow(nullptr, title.c_str()), 0u);
}

}  // namespace
