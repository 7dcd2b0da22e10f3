// EMF (keep the printed pages' metafiles), Language (of the printer's
// programs) and About.
#pragma once

#include "sheet.h"

class QCheckBox;
class QComboBox;

namespace vmprops {

class EmfPage final : public Page {
    Q_OBJECT
public:
    EmfPage(const Texts& texts, bool enabled);
    bool Apply() override;

private:
    QCheckBox* check_;
};

class LanguagePage final : public Page {
    Q_OBJECT
public:
    explicit LanguagePage(const Texts& texts);
    bool Apply() override;

private:
    QComboBox* list_;
};

class AboutPage final : public Page {
    Q_OBJECT
public:
    explicit AboutPage(const Texts& texts);
    bool Apply() override { return true; }
};

}  // namespace vmprops
