// The property sheet through its widgets: each setting changed and read back
// where the pipeline reads it (the queue's defaults through the dispatcher's
// ticket, the registry), forms added and deleted, the start checks, the
// one-sheet rule and the language file.
#include "form_dialog.h"
#include "general_page.h"
#include "paper_page.h"
#include "sheet.h"

#include "platform/printer.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"

#include "cupsd_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include "private_session.h"
#include "test_output.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

using namespace platform;
namespace fs = std::filesystem;

namespace {

using vmtest::ReadFile;

int RunCommand(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

template <class W>
W* Control(QWidget* parent, int id) {
    return parent->findChild<W*>(QString::number(id));
}

void Choose(QComboBox* combo, const QString& text) {
    int i = combo->findText(text);
    ASSERT_GE(i, 0) << text.toStdString();
    combo->setCurrentIndex(i);
    emit combo->activated(i);
}

class Properties : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vmprops-XXXXXX";
        ASSERT_TRUE(mkdtemp(tmpl));
        dir_ = tmpl;
        vmtest::UsePrivateSession(dir_);
        setenv("VELLUMATE_CREATION_TIME", "mtime", 1);
        setenv("LANG", "C", 1);
        // libcups keeps the first server root it sees for the whole process and
        // reads a local queue's PPD straight from its ppd folder: it must never
        // be the machine's own, which may hold an installed queue of ours.
        setenv("CUPS_SERVERROOT", dir_.c_str(), 1);
        ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Log", 0), ERROR_SUCCESS);
        lng_ = dir_ + "/vmate.lng";
        std::ofstream(lng_) << "[English]\nLangID=1033\n1001=General\n\n[Deutsch]\nLangID=1031\n1001=Allgemein\n"
                               "1102=Hochformat\n1240=Als EMF speichern\n111=Drucker %PRINTER_NAME% fehlt\n";
        ResetPrintService();
    }
    void TearDown() override {
        ResetPrintService();
        fs::remove_all(dir_);
    }
    std::unique_ptr<vmprops::PropertySheet> Sheet(bool noGeneral = false, bool noPaper = false) {
        vmprops::Prefs prefs;
        if (!vmprops::ReadPrefs(lng_, &prefs)) return nullptr;
        vmprops::SheetOptions options;
        options.noGeneral = noGeneral;
        options.noPaper = noPaper;
        options.languageFile = lng_;
        return std::make_unique<vmprops::PropertySheet>(options, prefs);
    }
    std::string Boxes() { return ReadFile(dir_ + "/boxes.jsonl"); }
    // A job through the real dispatcher; its ticket.
    std::string PrintedTicket() {
        std::string spool = dir_ + "/run/vellumate/spool/";
        fs::create_directories(spool);
        fs::permissions(dir_ + "/run/vellumate", fs::perms::owner_all);
        fs::permissions(spool, fs::perms::owner_all);
        fs::copy_file(std::string(VM_TEST_SUPPORT_DIR) + "/../emf/fixtures/office.emf", spool + "~emf1-1.tmp",
                      fs::copy_options::overwrite_existing);
        RegRemoveValue(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Print Job");
        if (RunCommand(std::string(VM_BIN_DIR) + "/dispatcher doc 2>/dev/null") != 0) return {};
        std::string ticket;
        RegGetString(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Print Job", &ticket);
        return ticket;
    }
    std::string dir_, lng_;
};

std::string Key(const std::string& ticket, const char* key) { return ProfileGetString(ticket, "Document", key, "-"); }

}  // namespace

TEST_F(Properties, GeneralAndPaperSettingsReachTheDispatchersTicket) {
    vmtest::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Started());
    auto sheet = Sheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->Tabs()->count(), 5);
    QWidget* general = sheet->PageOf(1001);
    auto* resolutions = Control<QComboBox>(general, 1035);
    ASSERT_EQ(resolutions->count(), 2);
    EXPECT_EQ(resolutions->currentText(), "600 x 1200 DPI");
    EXPECT_TRUE(Control<QRadioButton>(general, 1102)->isChecked());
    EXPECT_FALSE(sheet->ApplyButton()->isEnabled());

    Control<QRadioButton>(general, 1104)->click();
    Choose(resolutions, "300 x 300 DPI");
    QWidget* paper = sheet->PageOf(1002);
    auto* papers = Control<QComboBox>(paper, 1039);
    EXPECT_EQ(papers->currentText(), "A4");
    EXPECT_EQ(Control<QLineEdit>(paper, 1041)->text(), "210.00");
    EXPECT_FALSE(Control<QPushButton>(paper, 1128)->isEnabled());  // the printer's own paper
    Choose(papers, "US Letter");
    Control<QRadioButton>(paper, 1134)->click();
    EXPECT_EQ(Control<QLineEdit>(paper, 1041)->text(), "8.50");
    ASSERT_TRUE(sheet->ApplyButton()->isEnabled());
    sheet->ApplyButton()->click();
    EXPECT_FALSE(sheet->ApplyButton()->isEnabled());
    EXPECT_EQ(Boxes(), "");

    std::string ticket = PrintedTicket();
    ASSERT_FALSE(ticket.empty());
    EXPECT_EQ(Key(ticket, "Orientation"), "2");
    EXPECT_EQ(Key(ticket, "HorizontalResolution"), "300");
    EXPECT_EQ(Key(ticket, "VerticalResolution"), "300");
    EXPECT_EQ(Key(ticket, "PaperSize"), "1");
    EXPECT_EQ(Key(ticket, "PaperSizeName"), "US Letter");

    // A new sheet shows what the queue now holds.
    sheet = Sheet();
    EXPECT_TRUE(Control<QRadioButton>(sheet->PageOf(1001), 1104)->isChecked());
    EXPECT_EQ(Control<QComboBox>(sheet->PageOf(1001), 1035)->currentText(), "300 x 300 DPI");
    EXPECT_EQ(Control<QComboBox>(sheet->PageOf(1002), 1039)->currentText(), "US Letter");
}

TEST_F(Properties, AFormIsAddedUsedByATicketAndDeleted) {
    vmtest::PrivateCupsd cupsd;
    ASSERT_TRUE(cupsd.Started());
    auto sheet = Sheet(true, false);
    ASSERT_TRUE(sheet);
    QWidget* paper = sheet->PageOf(1002);
    ASSERT_TRUE(paper);
    EXPECT_FALSE(sheet->PageOf(1001));
    Control<QRadioButton>(paper, 1132)->click();  // metric

    vmprops::PaperPage::SetFormDialogHook([](vmprops::FormDialog& d) {
        QPushButton* ok = d.OkButton();
        QTest::keyClicks(Control<QLineEdit>(&d, 1044), "A4");  // the printer's own name
        QTest::keyClicks(Control<QLineEdit>(&d, 1041), "100");
        QTest::keyClicks(Control<QLineEdit>(&d, 1042), "150");
        EXPECT_FALSE(ok->isEnabled());
        Control<QLineEdit>(&d, 1044)->setText("Index card");
        EXPECT_TRUE(ok->isEnabled());
        Control<QLineEdit>(&d, 1041)->setText("900");  // wider than 841 mm
        EXPECT_FALSE(ok->isEnabled());
        Control<QRadioButton>(&d, 1134)->click();  // inches
        EXPECT_EQ(Control<QLineEdit>(&d, 1041)->text(), "35.43");
        EXPECT_EQ(Control<QLineEdit>(&d, 1042)->text(), "5.91");
        Control<QLineEdit>(&d, 1041)->setText("33");  // 838.20 mm
        EXPECT_TRUE(ok->isEnabled());
        Control<QRadioButton>(&d, 1132)->click();
        EXPECT_EQ(Control<QLineEdit>(&d, 1041)->text(), "838.20");
        Control<QLineEdit>(&d, 1041)->setText("127");
        Control<QLineEdit>(&d, 1042)->setText("150");  // 5.91 in was 150.11 mm
        ok->click();
        return d.result();
    });
    Control<QPushButton>(paper, 1126)->click();
    vmprops::PaperPage::SetFormDialogHook(nullptr);
    auto* papers = Control<QComboBox>(paper, 1039);
    EXPECT_EQ(papers->currentText(), "Index card");
    EXPECT_EQ(Control<QLineEdit>(paper, 1041)->text(), "127.00");
    EXPECT_EQ(Control<QLineEdit>(paper, 1042)->text(), "150.00");
    EXPECT_TRUE(Control<QPushButton>(paper, 1128)->isEnabled());
    sheet->ApplyButton()->click();
    EXPECT_EQ(Boxes(), "");

    std::string ticket = PrintedTicket();
    ASSERT_FALSE(ticket.empty());
    EXPECT_EQ(Key(ticket, "PaperSizeName"), "Index card");
    EXPECT_EQ(Key(ticket, "PaperWidth"), "1270");
    EXPECT_EQ(Key(ticket, "PaperLength"), "1500");

    // Deleted: the first paper becomes the default at once.
    Control<QPushButton>(paper, 1128)->click();
    EXPECT_EQ(papers->findText("Index card"), -1);
    EXPECT_EQ(papers->currentIndex(), 0);
    EXPECT_TRUE(EnumForms().empty());
    ticket = PrintedTicket();
    EXPECT_EQ(Key(ticket, "PaperSizeName"), "A4");
}

TEST_F(Properties, AStoppedServiceGivesTheMessagesAndKeepsTheChange) {
    auto cupsd = std::make_unique<vmtest::PrivateCupsd>();
    ASSERT_TRUE(cupsd->Started());
    auto sheet = Sheet();
    ASSERT_TRUE(sheet);
    std::string socket = cupsd->Socket();
    cupsd.reset();
    setenv("CUPS_SERVER", socket.c_str(), 1);  // where the service was
    ResetPrintService();
    Control<QRadioButton>(sheet->PageOf(1001), 1104)->click();
    sheet->ApplyButton()->click();
    EXPECT_NE(Boxes().find("\"text\":\"OpenPrinter() failed.\\nError # "), std::string::npos) << "[" << Boxes() << "]";
    EXPECT_TRUE(sheet->ApplyButton()->isEnabled());  // still to be written
    sheet->accept();
    EXPECT_TRUE(sheet->isVisible() || sheet->result() != QDialog::Accepted);
    unsetenv("CUPS_SERVER");

    // Without a queue the General page cannot read anything.
    std::remove((dir_ + "/boxes.jsonl").c_str());
    vmtest::PrivateCupsd empty("");
    ASSERT_TRUE(empty.Started());
    ResetPrintService();
    sheet = Sheet();
    EXPECT_NE(Boxes().find("OpenPrinter() error.\\nError # 1801"), std::string::npos) << Boxes();
    EXPECT_FALSE(Control<QRadioButton>(sheet->PageOf(1001), 1102)->isEnabled());
}

TEST_F(Properties, EmfLanguageAndLastPageGoToTheUsersKey) {
    auto sheet = Sheet(true, true);  // no printer needed for these pages
    ASSERT_TRUE(sheet);
    ASSERT_EQ(sheet->Tabs()->count(), 3);
    EXPECT_EQ(sheet->Tabs()->tabText(0), "EMF");
    auto* emf = Control<QCheckBox>(sheet->PageOf(1003), 1240);
    EXPECT_FALSE(emf->isChecked());
    emf->click();
    auto* languages = Control<QComboBox>(sheet->PageOf(1019), 1070);
    ASSERT_EQ(languages->count(), 2);
    EXPECT_EQ(languages->itemText(0), "English");
    Choose(languages, "Deutsch");
    sheet->Tabs()->setCurrentIndex(2);
    sheet->accept();
    DWORD v = 0;
    std::string language;
    EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Vellumate", "EMF: Enabled", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, 1u);
    EXPECT_EQ(RegGetString(HKEY_CURRENT_USER, "Software\\Vellumate", "Language", &language), ERROR_SUCCESS);
    EXPECT_EQ(language, "Deutsch");
    EXPECT_EQ(RegGetDword(HKEY_CURRENT_USER, "Software\\Vellumate", "Last Viewed Page", &v), ERROR_SUCCESS);
    EXPECT_EQ(v, 2u);

    // The next sheet speaks German and opens on the page seen last.
    sheet = Sheet(false, true);
    EXPECT_EQ(sheet->Tabs()->tabText(0), "Allgemein");
    EXPECT_EQ(Control<QRadioButton>(sheet->PageOf(1001), 1102)->text(), "Hochformat");
    EXPECT_EQ(Control<QRadioButton>(sheet->PageOf(1001), 1104)->text(), "Landscape");  // not in the file
    EXPECT_EQ(Control<QCheckBox>(sheet->PageOf(1003), 1240)->text(), "Als EMF speichern");
    EXPECT_TRUE(Control<QCheckBox>(sheet->PageOf(1003), 1240)->isChecked());
    EXPECT_EQ(sheet->Tabs()->currentIndex(), 2);

    // Hidden pages, and the language of the locale when none is chosen.
    RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "EMF: Hide page", 1);
    RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "LANGUAGE: Hide page", 1);
    RegRemoveValue(HKEY_CURRENT_USER, "Software\\Vellumate", "Language");
    setenv("LANG", "de_DE.UTF-8", 1);
    sheet = Sheet(false, true);
    ASSERT_EQ(sheet->Tabs()->count(), 2);
    EXPECT_EQ(sheet->Tabs()->tabText(0), "Allgemein");
    EXPECT_EQ(sheet->Tabs()->tabText(1), "About");
}

TEST_F(Properties, TheStartChecksAndTheOneSheetRule) {
    // Not installed: the message of the language file's chosen language.
    RegDeleteTree(HKEY_LOCAL_MACHINE, "Software\\Vellumate");
    EXPECT_FALSE(Sheet());
    EXPECT_EQ(Boxes(), "{\"caption\":\"Vellumate properties\",\"text\":\"The Vellumate printer has not been properly "
                       "configured. Please re-install the Vellumate software.\",\"icon\":\"none\",\"buttons\":\"ok\","
                       "\"answer\":\"ok\"}\n");
    EXPECT_EQ(RunCommand(std::string(VM_BIN_DIR) + "/properties /NOGENERAL 2>/dev/null"), 1);

    // While one sheet is open, a second start ends at once with 0.
    ASSERT_EQ(RegSetDword(HKEY_LOCAL_MACHINE, "Software\\Vellumate", "Log", 0), ERROR_SUCCESS);
    std::remove((dir_ + "/boxes.jsonl").c_str());
    pid_t first = fork();
    if (first == 0) {
        unsetenv("VELLUMATE_UI");
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::string program = std::string(VM_BIN_DIR) + "/properties";
        execl(program.c_str(), program.c_str(), "/nogeneral", "/NOPAPER", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::unique_ptr<NamedMutex> open;
    for (int i = 0; i < 1000 && !open; ++i) {
        open = NamedMutex::Open("Vellumate_properties_mutex");
        if (!open) usleep(10000);
    }
    EXPECT_TRUE(open);
    EXPECT_EQ(RunCommand(std::string(VM_BIN_DIR) + "/properties /nopaper"), 0);
    EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0);  // the first sheet is still open
    kill(first, SIGTERM);
    waitpid(first, nullptr, 0);
    EXPECT_EQ(Boxes(), "");
}

TEST(PropertiesTexts, FaxResolutionsAreNamed) {
    EXPECT_EQ(vmprops::GeneralPage::ResolutionText(204, 98), "204 x 98 DPI - Standard FAX mode");
    EXPECT_EQ(vmprops::GeneralPage::ResolutionText(204, 196), "204 x 196 DPI - Fine FAX mode");
    EXPECT_EQ(vmprops::GeneralPage::ResolutionText(300, 300), "300 x 300 DPI");
}
