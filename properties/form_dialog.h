// The new-form dialog: a name and a size in millimetres or inches, accepted
// only for a new name and a size the printer can take (25 to 841 mm wide,
// 25 to 1189 mm long).
#pragma once

#include "texts.h"

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace vmprops {

class FormDialog final : public QDialog {
    Q_OBJECT
public:
    // `taken`: the names in use (compared exactly).
    FormDialog(const Texts& texts, QStringList taken, bool metric, QWidget* parent = nullptr);

    QString Name() const { return name_; }
    double WidthMm() const { return width_; }
    double LengthMm() const { return length_; }
    QPushButton* OkButton() const { return ok_; }

private:
    void SetUnits(bool metric, bool convert);
    void Check();
    void accept() override;
    QStringList taken_;
    bool metric_ = true;
    QLineEdit* nameEdit_;
    QLineEdit* widthEdit_;
    QLineEdit* lengthEdit_;
    QRadioButton* metricRadio_;
    QRadioButton* englishRadio_;
    QLabel* unitW_;
    QLabel* unitL_;
    QLabel* rangeW_;
    QLabel* rangeL_;
    QPushButton* ok_;
    QString name_;
    double width_ = 0, length_ = 0;
};

// True when the user's locale measures in inches.
bool LocaleIsEnglish();

}  // namespace vmprops
