#pragma once
// The window's modal dialogs behind one seam, so that the window tests can
// answer them without ever opening a box.
#include <QString>

#include "serial/Operator.h"

class QWidget;

class DialogSeam {
public:
    virtual ~DialogSeam() = default;

    // An OK-only box with the message's icon; its caption is the window title.
    virtual void Message(QWidget* parent, const veltra::Message& message) = 0;
    // A warning box with Retry and Cancel; true when the operator chose Retry.
    virtual bool RetryCancel(QWidget* parent, const QString& text) = 0;
    // The file-open dialog; an empty name when the operator cancelled it.
    // The filter is already in the toolkit's form ("All Files (*)").
    virtual QString OpenFileName(QWidget* parent, const QString& title, const QString& filter) = 0;
};
