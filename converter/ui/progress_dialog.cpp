#include "progress_dialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "strings.h"
#include "widgets.h"

namespace vellumate::ui {

CProgressDlg::CProgressDlg(QWidget* owner, int range)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      bar_(WithId(new QProgressBar(this), 1014)),
      first_(WithId(new QLabel(this), 1010)),
      second_(WithId(new QLabel(this), 1009)),
      cancel_(WithId(new QPushButton(Text(7108), this), 2)) {
    setObjectName("203");
    setWindowTitle(Text(7113));
    // The run keeps the keyboard here; the main window waits behind it.
    setWindowModality(Qt::ApplicationModal);
    auto* label = WithId(new QLabel(Text(7109), this), 7006);
    bar_->setRange(0, std::max(0, range));
    bar_->setValue(0);
    bar_->setTextVisible(false);
    for (QLabel* l : {first_, second_}) {
        l->setMinimumHeight(2 * fontMetrics().lineSpacing());
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        l->setTextFormat(Qt::PlainText);
        l->setMinimumWidth(320);
    }
    auto* box = new QVBoxLayout(this);
    box->addWidget(label);
    box->addWidget(bar_);
    box->addWidget(first_);
    box->addWidget(second_);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(cancel_);
    box->addLayout(row);
    connect(cancel_, &QPushButton::clicked, this, &CProgressDlg::OnCancel);
}

void CProgressDlg::SetLines(const QString& first, const QString& second) {
    first_->setText(first);
    second_->setText(second);
}

QString CProgressDlg::FirstLine() const { return first_->text(); }
QString CProgressDlg::SecondLine() const { return second_->text(); }
int CProgressDlg::Value() const { return bar_->value(); }
int CProgressDlg::Range() const { return bar_->maximum(); }

void CProgressDlg::Advance(int steps) {
    bar_->setValue(std::min(bar_->maximum(), bar_->value() + std::max(0, steps)));
    ProcessMessages();
}

// The converters write their detail once per page: the window is kept alive
// there too, not only where the bar moves.
void CProgressDlg::SetStatus(const std::string& text) {
    second_->setText(FromUtf8(text));
    ProcessMessages();
}

void CProgressDlg::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void CProgressDlg::OnCancel() {
    cancelled_ = true;
    cancel_->setEnabled(false);
    ProcessMessages();
}

void CProgressDlg::reject() {}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    // The close box counts as Cancel; the window stays until the run ends.
    event->ignore();
    if (!cancelled_) OnCancel();
}

}  // namespace vellumate::ui
