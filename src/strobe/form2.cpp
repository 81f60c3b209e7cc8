#include "form2.h"

namespace strobe {

Form2::Form2(errors::MessageBox &box, const OptionSource &options, QObject *parent)
    : QObject(parent)
    , m_box(box)
    , m_options(options)
{}

Form2::~Form2() = default;

void Form2::Show(QScreen *) {}

void Form2::Unload() {}

bool Form2::isLoaded() const
{
    return false;
}

} // namespace strobe
