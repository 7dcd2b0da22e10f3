#include "ui_fixture.h"

#include <QTest>
#include <cstdlib>

#include "frame.h"
#include "platform/msgbox.h"

namespace uitest {

void Click(QAbstractButton* button) {
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled()) << button->objectName().toStdString();
    QTest::mouseClick(button, Qt::LeftButton);
}

void UiTest::SetUp() {
    sandbox = std::make_unique<vmtest::Sandbox>();
    for (const auto& [name, value] : sandbox->env) {
        const char* old = std::getenv(name.c_str());
        savedEnv_.emplace_back(name, old ? old : std::string("\x01"));
        ::setenv(name.c_str(), value.c_str(), 1);
    }
    // Boxes are logged and answered from the script, not shown.
    ::unsetenv("VELLUMATE_UI");
    ctx.programPath = sandbox->Path("prog/vellumate");
    settingsAnswer = [](vellumate::ui::CAdvSettingsDlg& d) {
        d.ToControls();
        d.ApplyLayout();
        return int(QDialog::Rejected);
    };
}

void UiTest::TearDown() {
    vellumate::ReleaseComObjects(ctx);
    for (const auto& [name, value] : savedEnv_) {
        if (value == "\x01") ::unsetenv(name.c_str());
        else ::setenv(name.c_str(), value.c_str(), 1);
    }
    sandbox.reset();
}

vellumate::ui::Choosers UiTest::Answers() {
    vellumate::ui::Choosers c;
    c.files = [this](QWidget*) { return filesAnswer; };
    c.addFolder = [this](QWidget*, const QString&) { return folderAnswer; };
    c.saveFolder = [this](QWidget*, const QString&) { return saveFolderAnswer; };
    c.runSettings = [this](vellumate::ui::CAdvSettingsDlg& d) { return settingsAnswer(d); };
    return c;
}

std::unique_ptr<vellumate::ui::CMainDlg> UiTest::MakeDialog(int inputLimit) {
    return std::make_unique<vellumate::ui::CMainDlg>(ctx, Answers(), inputLimit);
}

std::vector<std::string> UiTest::BoxTexts() const {
    std::vector<std::string> out;
    for (const std::string& line : sandbox->Boxes()) {
        const std::string key = "\"text\":\"";
        const size_t at = line.find(key);
        if (at == std::string::npos) continue;
        std::string text;
        for (size_t i = at + key.size(); i < line.size() && line[i] != '"'; ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                ++i;
                text += line[i] == 'n' ? '\n' : line[i];
            } else {
                text += line[i];
            }
        }
        out.push_back(text);
    }
    return out;
}

}  // namespace uitest
