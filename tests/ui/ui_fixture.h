// A private registry, box log, opener and home folder for each dialog test,
// and helpers to find the dialogs' controls by their ids.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QString>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "context.h"
#include "main_dialog.h"
#include "run_program.h"

namespace uitest {

// The control with id `id` below `parent` (fails the test when missing).
template <class W>
W* Control(QWidget* parent, int id) {
    W* w = parent->findChild<W*>(QString::number(id));
    EXPECT_NE(w, nullptr) << "no control " << id;
    return w;
}

void Click(QAbstractButton* button);

class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Choosers that answer from the members below.
    vellumate::ui::Choosers Answers();
    // A main dialog on `ctx` with the answers below (and the input limit).
    std::unique_ptr<vellumate::ui::CMainDlg> MakeDialog(int inputLimit = vellumate::ui::CMainDlg::kInputLimit);
    // The texts of the message boxes shown so far.
    std::vector<std::string> BoxTexts() const;

    std::unique_ptr<vmtest::Sandbox> sandbox;
    vellumate::ConversionContext ctx;
    QStringList filesAnswer;
    std::optional<vellumate::ui::Choosers::FolderChoice> folderAnswer;
    std::optional<QString> saveFolderAnswer;
    std::function<int(vellumate::ui::CAdvSettingsDlg&)> settingsAnswer;

private:
    std::vector<std::pair<std::string, std::string>> savedEnv_;
};

}  // namespace uitest
