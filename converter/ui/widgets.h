// Small pieces the three dialogs share: texts from the string table, control
// ids as object names, and the up-down button that sits beside a number edit.
#pragma once

#include <QString>
#include <QWidget>

class QToolButton;

namespace vellumate::ui {

// The English text of a string id.
QString Text(int id);
// Between the core's UTF-8 strings and the toolkit's.
QString FromUtf8(const std::string& s);
std::string ToUtf8(const QString& s);

// Gives `w` the control id `id` as its object name and returns it.
template <class W>
W* WithId(W* w, int id) {
    w->setObjectName(QString::number(id));
    return w;
}

// An up-down button: two arrows that move a position inside a range. It
// reports the change it was asked for; the owner decides what becomes of it.
class SpinButton final : public QWidget {
    Q_OBJECT
public:
    explicit SpinButton(QWidget* parent = nullptr);
    void SetRange(int low, int high) { low_ = low, high_ = high; }
    int Low() const { return low_; }
    int High() const { return high_; }
    int Position() const { return position_; }
    void SetPosition(int position) { position_ = position; }
    QToolButton* Up() const { return up_; }
    QToolButton* Down() const { return down_; }

signals:
    // The position is about to change by `delta` (+1 up, -1 down).
    void Changing(int delta);

private:
    QToolButton* up_;
    QToolButton* down_;
    int low_ = 0, high_ = 100, position_ = 0;
};

}  // namespace vellumate::ui
