// The property sheet: its pages in tabs, and OK, Cancel and Apply. A page
// reads its data when it is made and writes it on Apply; a change enables
// Apply. A page whose write fails stays changed, and OK then leaves the
// sheet open, so that nothing the user chose is silently dropped.
#pragma once

#include "prefs.h"
#include "texts.h"

#include <QDialog>
#include <QWidget>

#include <memory>
#include <vector>

class QTabWidget;
class QPushButton;

namespace vmprops {

// Gives `w` the control id `id` as its object name and returns it.
template <class W>
W* Id(W* w, int id) {
    w->setObjectName(QString::number(id));
    return w;
}

class Page : public QWidget {
    Q_OBJECT
public:
    Page(const Texts& texts, int titleId, const QString& title);
    QString Title() const { return title_; }
    bool Modified() const { return modified_; }
    // Writes the page's data; false (after its message box) when it could
    // not. Called only for a modified page.
    virtual bool Apply() = 0;
    void ClearModified() { modified_ = false; }

signals:
    void Changed();

protected:
    void MarkModified();
    // Gives every control whose object name is a number its text in the
    // sheet's language (the text it has when the file has none).
    void ApplyTexts();
    const Texts& texts_;

private:
    QString title_;
    bool modified_ = false;
};

struct SheetOptions {
    bool noGeneral = false, noPaper = false;
    std::string languageFile;  // "" for the one beside the program
};

class PropertySheet final : public QDialog {
    Q_OBJECT
public:
    // The sheet for `prefs` (read by ReadPrefs).
    PropertySheet(const SheetOptions& options, const Prefs& prefs);
    ~PropertySheet() override;

    QTabWidget* Tabs() const { return tabs_; }
    QPushButton* ApplyButton() const { return apply_; }
    // The page with that title id (1001 General, 1002 Paper Size, 1003 EMF,
    // 1019 Language, 1020 About); null when the sheet leaves it out.
    Page* PageOf(int titleId) const;

    // Applies every modified page: true when all of them were written.
    bool ApplyAll();

protected:
    void done(int result) override;

private:
    void Update();
    Texts texts_;
    QTabWidget* tabs_;
    QPushButton* apply_;
    std::vector<std::pair<int, Page*>> pages_;
};

}  // namespace vmprops
