// General: the printer's default orientation and resolution, read from and
// written to the queue's defaults.
#pragma once

#include "sheet.h"

class QComboBox;
class QLabel;
class QRadioButton;

namespace vmprops {

class GeneralPage final : public Page {
    Q_OBJECT
public:
    explicit GeneralPage(const Texts& texts);
    bool Apply() override;

    // "%d x %d DPI", with the fax modes named.
    static QString ResolutionText(int x, int y);

private:
    void Load();
    void SetOrientation(int orientation);
    QRadioButton* portrait_;
    QRadioButton* landscape_;
    QLabel* picture_;
    QComboBox* resolutions_;
    int orientation_ = 1;
    int x_ = 0, y_ = 0;
};

}  // namespace vmprops
