#include "small_pages.h"

#include "prefs.h"

#include "printer/shared/names.h"

#include "platform/paths.h"
#include "platform/shell.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace vmprops {

EmfPage::EmfPage(const Texts& texts, bool enabled) : Page(texts, 1003, "EMF") {
    check_ = Id(new QCheckBox("Save to EMF"), 1240);
    check_->setChecked(enabled);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(check_);
    layout->addStretch();
    ApplyTexts();
    connect(check_, &QCheckBox::clicked, this, [this] { MarkModified(); });
}

bool EmfPage::Apply() { return WriteUserDword(vmshared::kEmfEnabledValue, check_->isChecked() ? 1 : 0); }

LanguagePage::LanguagePage(const Texts& texts) : Page(texts, 1019, "Language") {
    list_ = Id(new QComboBox, 1070);
    for (const std::string& name : texts.Languages()) list_->addItem(QString::fromStdString(name));
    int current = list_->findText(QString::fromStdString(texts.Language()), Qt::MatchFixedString);
    list_->setCurrentIndex(current < 0 ? 0 : current);
    auto* note = Id(new QLabel("Note: Restart Properties to make language changes take affect."), 1462);
    note->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Id(new QLabel("Language"), 1460));
    layout->addWidget(list_);
    layout->addWidget(note);
    layout->addStretch();
    ApplyTexts();
    connect(list_, &QComboBox::activated, this, [this] { MarkModified(); });
}

bool LanguagePage::Apply() { return WriteUserString(vmshared::kLanguageValue, list_->currentText().toStdString()); }

namespace {

// The product line: white on grey, one line, 8 pixels from the left.
class ProductLine final : public QLabel {
public:
    explicit ProductLine(const QString& text) : QLabel(text) { setMinimumHeight(28); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::gray);
        p.setPen(Qt::white);
        p.setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
        p.drawText(rect().adjusted(8, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }
};

}  // namespace

AboutPage::AboutPage(const Texts& texts) : Page(texts, 1020, "About") {
    auto* product = Id(new ProductLine(QString::fromStdString(std::string(vmshared::kProduct).substr(0, 12)) +
                                       " Virtual Printer"),
                       1007);
    auto* version = Id(new QLabel("Version 1.00"), 1059);
    auto* notice = Id(new QLabel("Prints any document into a PDF file: the printed pages go to the "
                                 "Vellumate converter, which writes them into the PDF document.\n"
                                 "The help file describes the printer and its settings."),
                      1083);
    notice->setWordWrap(true);
    auto* help = Id(new QPushButton("Help"), 1021);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(product);
    layout->addWidget(version);
    layout->addWidget(notice);
    layout->addWidget(help, 0, Qt::AlignLeft);
    layout->addStretch();
    ApplyTexts();
    connect(help, &QPushButton::clicked, this, [] { platform::ShellOpen(platform::ProgramFolder() + "/help.chm"); });
}

}  // namespace vmprops
