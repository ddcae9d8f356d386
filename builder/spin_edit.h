// CSpinEdit: a text field with up/down arrows bound to it. Unlike a spin
// box it keeps any text the user types (empty, not a number, leading
// zeros); the arrows step the number the text holds, or the last position
// when the text is no number, within the range.
#pragma once

#include <QAbstractSpinBox>
#include <QString>

namespace morvane {

class CSpinEdit : public QAbstractSpinBox {
    Q_OBJECT

  public:
    explicit CSpinEdit(QWidget* parent = nullptr);

    // Binds the arrows to [minimum, maximum] and shows position as text.
    void Bind(int minimum, int maximum, int position);
    int Position() const { return position_; }

    QString Text() const { return text(); }
    void SetText(const QString& text);

    void stepBy(int steps) override;
    QValidator::State validate(QString& input, int& pos) const override;

  protected:
    StepEnabled stepEnabled() const override;

  private:
    int minimum_ = 1;
    int maximum_ = 10000;
    int position_ = 1;
};

}  // namespace morvane
