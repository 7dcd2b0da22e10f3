// CAdvSettingsDlg: edits a working copy of PdfSettings. The caller fills the
// copy and the simple-mode flag, runs the dialog, and on Accepted reads the
// copy back. Number edits are corrected in place while they are typed (a
// text that is no number gives 0, a number out of range its nearer bound);
// the spin buttons keep them in range.
#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "pdf_settings.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vellumate::ui {

class SpinButton;

class CAdvSettingsDlg final : public QDialog {
    Q_OBJECT
public:
    // programPath: where the help file is looked up (F1).
    explicit CAdvSettingsDlg(std::string programPath, QWidget* owner = nullptr);

    // The working copy and the layout flag; set before exec(), read after.
    PdfSettings settings;
    bool simpleMode = true;

    // Runs modally: the controls are filled from `settings` first.
    int exec() override;

    // Moves the values between the controls and `settings`. From the
    // controls, the number edits are checked in the order JPEG quality, left,
    // right, top, bottom; the first one that needs a correction gets the
    // corrected text and the focus, and the transfer stops there. Returns
    // false then.
    void ToControls();
    bool FromControls();
    void ApplyLayout();

protected:
    void accept() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct NumberField {
        QLineEdit* edit = nullptr;
        SpinButton* spin = nullptr;
        std::int32_t PdfSettings::*field = nullptr;
        int high = 0;
    };
    // Reads one number edit into its setting; false when it was corrected.
    bool TransferNumber(const NumberField& f);
    void OnNumberEdited(const NumberField& f);
    void OnSpin(const NumberField& f, int delta);
    void EnableProtection();
    void ToggleMode();

    void Build();

    std::string programPath_;
    bool updatingFromSpin_ = false;
    std::array<NumberField, 5> numbers_{};
    QLineEdit *author_, *subject_, *title_, *keywords_, *userPassword_, *ownerPassword_;
    QComboBox *compression_, *version_, *charset_, *orientation_, *size_, *keyLength_, *pageLayout_, *pageMode_,
        *htmlEngine_;
    QCheckBox *protect_, *allowCopy_, *allowModify_, *allowPrint_, *preserveLinks_, *center_, *fit_, *hideMenu_,
        *hideToolbar_, *hideUi_, *embedFonts_, *pageNumbers_, *excludeOrphans_, *forceSizes_;
    QButtonGroup* widthGroup_;
    QGroupBox *docInfo_, *protection_, *pageInfo_, *viewer_, *pageWidth_, *misc_;
    QLabel* hint_;
    QPushButton* modeButton_;
    QList<QWidget*> advancedInDocInfo_;
};

}  // namespace vellumate::ui
