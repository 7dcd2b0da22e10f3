// CProgressDlg: the window a run of the main dialog shows. The conversion
// code reaches it through ConversionContext::progress: it advances the bar,
// rewrites the two lines and polls the cancel flag. Each advance lets the
// pending window messages run, since the run executes on the window thread.
#pragma once

#include <QDialog>
#include <QString>

#include "progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vellumate::ui {

class CProgressDlg final : public QDialog, public IProgress {
    Q_OBJECT
public:
    // range: the bar's upper bound (5 units per input file).
    CProgressDlg(QWidget* owner, int range);

    // The first line (the file under way) and the second (the converters' detail).
    void SetLines(const QString& first, const QString& second);
    QString FirstLine() const;
    QString SecondLine() const;
    int Value() const;
    int Range() const;

    // IProgress
    bool Cancelled() const override { return cancelled_; }
    void Advance(int steps) override;
    void SetStatus(const std::string& text) override;
    void ProcessMessages() override;

protected:
    // Escape and the close box do not end the window during a run: only
    // Cancel asks the run to stop, and the run ends on its own.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void OnCancel();

    QProgressBar* bar_;
    QLabel* first_;
    QLabel* second_;
    QPushButton* cancel_;
    bool cancelled_ = false;
};

}  // namespace vellumate::ui
