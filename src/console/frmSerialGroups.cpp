// Switching the working controls as a block by their group number.
#include <optional>

#include "console/frmSerial.h"

namespace {

// A control's "Tag" read as a whole number; none when empty or not a number.
std::optional<int> GroupOf(const QObject& control) {
    bool isNumber = false;
    const int group = control.property("Tag").toString().toInt(&isNumber);
    if (!isNumber) return std::nullopt;
    return group;
}

// The control's own flag, whatever its containers' state: a control in a
// disabled frame still keeps the flag it was given.
bool OwnEnabled(const QWidget& control) {
    return !control.testAttribute(Qt::WA_ForceDisabled);
}

// Every control of the window once, containers and contents alike. Only
// widgets have an enabled flag; the file dialog's stand-in has none.
template <typename Act>
void ForEachGrouped(const QObject& window, Act act) {
    for (QObject* object : window.findChildren<QObject*>()) {
        auto* control = qobject_cast<QWidget*>(object);
        const std::optional<int> group = GroupOf(*object);
        if (control != nullptr && group) act(*control, *group);
    }
}

}  // namespace

void frmSerial::SwitchTags() {
    ForEachGrouped(*this, [](QWidget& control, int group) {
        if (group > 8 && group < 130) control.setEnabled(!OwnEnabled(control));
    });
}

void frmSerial::CloseAllTags() {
    ForEachGrouped(*this, [](QWidget& control, int group) {
        if (group > 8) control.setEnabled(false);
    });
}
