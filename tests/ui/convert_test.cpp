// Runs from the main dialog with the real PDF library and add-on, registered
// into the test's private registry.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "progress_dialog.h"
#include "ui_fixture.h"

namespace {

using uitest::Click;
using uitest::Control;
namespace fs = std::filesystem;

class Convert : public uitest::UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        ASSERT_EQ(sandbox->Run(REGSVR_BIN, {CORVANTH_LIB}), 0) << sandbox->lastStderr;
        ASSERT_EQ(sandbox->Run(REGSVR_BIN, {TESSALINE_LIB}), 0) << sandbox->lastStderr;
        fs::create_directories(sandbox->Path("out"));
        ::setenv("NO_PROXY", "127.0.0.1", 1);
    }
    std::unique_ptr<vellumate::ui::CMainDlg> DialogWith(const QStringList& inputs) {
        filesAnswer = inputs;
        auto d = MakeDialog();
        Click(Control<QPushButton>(d.get(), 1001));
        Control<QLineEdit>(d.get(), 1012)->setText(QString::fromStdString(sandbox->Path("out")));
        d->show();
        return d;
    }
    QString Page(const std::string& name, const std::string& body) {
        return QString::fromStdString(sandbox->Write("in/" + name, "<html><body>" + body + "</body></html>"));
    }
};

TEST_F(Convert, EachInputBecomesAListedPdf) {
    auto d = DialogWith({Page("one.html", "<p>one</p>"), Page("two.htm", "<p>two</p>")});
    int range = -1;
    QObject::connect(d.get(), &vellumate::ui::CMainDlg::RunStarted, [&] { range = d->Progress()->Range(); });
    Click(Control<QPushButton>(d.get(), 1008));
    EXPECT_EQ(range, 10);
    EXPECT_FALSE(d->Running());
    const std::string out = sandbox->Path("out");
    EXPECT_EQ(d->Outputs(), (QStringList{QString::fromStdString(out + "/one.html.pdf"),
                                         QString::fromStdString(out + "/two.htm.pdf")}));
    for (const QString& pdf : d->Outputs()) EXPECT_TRUE(fs::file_size(pdf.toStdString()) > 0);
    EXPECT_TRUE(BoxTexts().empty());
    EXPECT_TRUE(Control<QPushButton>(d.get(), 1001)->isEnabled()) << "controls come back after the run";
}

TEST_F(Convert, AllToOneListsTheFirstOutputOnly) {
    auto d = DialogWith({Page("a.html", "<p>a</p>"), Page("b.html", "<p>b</p>")});
    Control<QCheckBox>(d.get(), 1110)->setChecked(true);
    Click(Control<QPushButton>(d.get(), 1008));
    EXPECT_EQ(d->Outputs(), QStringList{QString::fromStdString(sandbox->Path("out/a.html.pdf"))});
    EXPECT_FALSE(fs::exists(sandbox->Path("out/b.html.pdf")));
}

TEST_F(Convert, MissingSaveFolderIsReportedForEveryEntry) {
    auto d = DialogWith({Page("a.html", "a"), Page("b.html", "b")});
    const std::string gone = sandbox->Path("gone");
    Control<QLineEdit>(d.get(), 1012)->setText(QString::fromStdString(gone + "/"));
    Click(Control<QPushButton>(d.get(), 1008));
    const std::string text = "Folder " + gone + " does not exists. Can't save file(s).";
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{text, text}));
    EXPECT_TRUE(d->Outputs().isEmpty());
    EXPECT_EQ(d->SaveFolderText().toStdString(), gone) << "the trailing slash is dropped";
}

// A server that takes connections and never answers: a page with a picture
// from it loads until its time-out, unless the load is abandoned.
class StalledServer {
public:
    StalledServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 16) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~StalledServer() { ::close(fd_); }
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST_F(Convert, CancelInTheMiddleOfALoadDeletesTheOutput) {
    StalledServer server;
    ASSERT_NE(server.Port(), 0);
    const std::string img = "<img src=\"http://127.0.0.1:" + std::to_string(server.Port()) + "/slow.png\">";
    auto d = DialogWith({Page("slow.html", "<p>waiting</p>" + img), Page("next.html", "<p>next</p>")});
    bool pressed = false;
    std::int64_t stepsAtPress = -1;
    QObject::connect(d.get(), &vellumate::ui::CMainDlg::RunStarted, [&] {
        // Pressed while the first page waits for its picture.
        QTimer::singleShot(400, [&] {
            auto* cancel = Control<QPushButton>(d->Progress(), 2);
            QTest::mouseClick(cancel, Qt::LeftButton);
            pressed = d->Progress()->Cancelled();
            stepsAtPress = ctx.stepCounter;
            EXPECT_TRUE(d->Progress()->isVisible()) << "Cancel does not close the window";
        });
    });
    Click(Control<QPushButton>(d.get(), 1008));
    EXPECT_TRUE(pressed);
    EXPECT_EQ(stepsAtPress, 0) << "the press came while the first load still waited";
    EXPECT_EQ(d->LastResult(), 1);
    EXPECT_FALSE(fs::exists(sandbox->Path("out/slow.html.pdf")));
    EXPECT_FALSE(fs::exists(sandbox->Path("out/next.html.pdf"))) << "the run ends at the cancelled file";
    EXPECT_TRUE(d->Outputs().isEmpty());
    EXPECT_TRUE(BoxTexts().empty()) << "a cancelled load is no error";
}

}  // namespace
