#include "sheet.h"

#include "error_box.h"
#include "general_page.h"
#include "paper_page.h"
#include "small_pages.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

namespace vmprops {

Page::Page(const Texts& texts, int titleId, const QString& title)
    : texts_(texts), title_(texts.Text(titleId, title)) {}

void Page::MarkModified() {
    modified_ = true;
    emit Changed();
}

void Page::ApplyTexts() {
    for (QWidget* w : findChildren<QWidget*>()) {
        bool ok = false;
        int id = w->objectName().toInt(&ok);
        if (!ok) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(texts_.Text(id, b->text()));
        else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(texts_.Text(id, g->title()));
        else if (auto* l = qobject_cast<QLabel*>(w); l && !l->text().isEmpty()) l->setText(texts_.Text(id, l->text()));
    }
}

PropertySheet::PropertySheet(const SheetOptions& options, const Prefs& prefs)
    : texts_(options.languageFile, prefs.language), tabs_(new QTabWidget(this)) {
    setWindowTitle(QString::fromStdString(Caption()));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowIcon(QIcon::fromTheme("printer"));
    auto add = [this](int id, Page* page) {
        pages_.emplace_back(id, page);
        tabs_->addTab(page, page->Title());
        connect(page, &Page::Changed, this, &PropertySheet::Update);
    };
    if (!options.noGeneral) add(1001, new GeneralPage(texts_));
    if (!options.noPaper) add(1002, new PaperPage(texts_));
    if (!prefs.hideEmf) add(1003, new EmfPage(texts_, prefs.emfEnabled));
    if (!prefs.hideLanguage) add(1019, new LanguagePage(texts_));
    add(1020, new AboutPage(texts_));
    if (prefs.lastViewedPage >= 0 && prefs.lastViewedPage < tabs_->count()) tabs_->setCurrentIndex(prefs.lastViewedPage);

    tabs_->setUsesScrollButtons(false);  // every page title in sight
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("1");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("2");
    apply_ = buttons->button(QDialogButtonBox::Apply);
    apply_->setObjectName("12321");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(apply_, &QPushButton::clicked, this, [this] {
        WriteLastViewedPage(tabs_->currentIndex());
        ApplyAll();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons);
    Update();
    adjustSize();
    if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
}

PropertySheet::~PropertySheet() = default;

Page* PropertySheet::PageOf(int titleId) const {
    for (const auto& [id, page] : pages_)
        if (id == titleId) return page;
    return nullptr;
}

bool PropertySheet::ApplyAll() {
    bool all = true;
    for (const auto& entry : pages_) {
        Page* page = entry.second;
        if (!page->Modified()) continue;
        if (page->Apply()) page->ClearModified();
        else all = false;
    }
    Update();
    return all;
}

void PropertySheet::done(int result) {
    WriteLastViewedPage(tabs_->currentIndex());
    if (result == QDialog::Accepted && !ApplyAll()) return;
    QDialog::done(result);
}

void PropertySheet::Update() {
    bool any = false;
    for (const auto& entry : pages_) any |= entry.second->Modified();
    apply_->setEnabled(any);
}

}  // namespace vmprops
