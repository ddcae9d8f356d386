#include "builder/spin_edit.h"

#include <QLineEdit>

#include <algorithm>

namespace morvane {

CSpinEdit::CSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
}

void CSpinEdit::Bind(int minimum, int maximum, int position) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    position_ = std::clamp(position, minimum_, maximum_);
    SetText(QString::number(position_));
}

void CSpinEdit::SetText(const QString& text) { lineEdit()->setText(text); }

void CSpinEdit::stepBy(int steps) {
    bool isNumber = false;
    int value = text().trimmed().toInt(&isNumber);
    int from = isNumber ? std::clamp(value, minimum_, maximum_) : position_;
    position_ = static_cast<int>(std::clamp<long long>(static_cast<long long>(from) + steps,
                                                       minimum_, maximum_));
    SetText(QString::number(position_));
}

QValidator::State CSpinEdit::validate(QString&, int&) const { return QValidator::Acceptable; }

QAbstractSpinBox::StepEnabled CSpinEdit::stepEnabled() const {
    return StepUpEnabled | StepDownEnabled;
}

}  // namespace morvane
