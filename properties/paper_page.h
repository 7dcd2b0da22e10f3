// Paper Size: the printer's default paper, chosen from its papers and the
// user's forms; forms are added and deleted here.
#pragma once

#include "sheet.h"

#include "platform/printer.h"

#include <functional>

class QComboBox;
class QLineEdit;
class QLabel;
class QPushButton;
class QRadioButton;

namespace vmprops {

class FormDialog;

class PaperPage final : public Page {
    Q_OBJECT
public:
    explicit PaperPage(const Texts& texts);
    bool Apply() override;

    // Called with the open new-form dialog before it runs (tests fill it in;
    // returning a result other than -1 ends it without waiting).
    using FormDialogHook = std::function<int(FormDialog&)>;
    static void SetFormDialogHook(FormDialogHook hook);

private:
    void Fill(std::int16_t current);
    void ShowSelected();
    void SetUnits(bool metric);
    void AddForm();
    void DeleteForm();
    // The selected paper as the printer's default; false after the box.
    bool WritePaper();
    std::vector<platform::PaperInfo> papers_;
    std::vector<platform::FormInfo> forms_;
    bool metric_ = true;
    QComboBox* list_;
    QRadioButton* metricRadio_;
    QRadioButton* englishRadio_;
    QLineEdit* width_;
    QLineEdit* length_;
    QLabel* unitW_;
    QLabel* unitL_;
    QPushButton* add_;
    QPushButton* delete_;
};

}  // namespace vmprops
