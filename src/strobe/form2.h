#pragma once

#include <QObject>

class QScreen;

namespace errors {
class MessageBox;
}

namespace strobe {

class OptionSource;

// The full-screen strobe window. The object and its state live for the whole
// run; the on-screen window exists only while the strobe is loaded.
class Form2 final : public QObject
{
    Q_OBJECT

public:
    Form2(errors::MessageBox &box, const OptionSource &options, QObject *parent = nullptr);
    ~Form2() override;
    Q_DISABLE_COPY_MOVE(Form2)

    // Loads the window if needed (running Form_Load), puts it over the whole
    // of screen and makes it active.
    void Show(QScreen *screen);
    // Destroys the on-screen window, if any, without running any handler.
    void Unload();
    bool isLoaded() const;

private:
    errors::MessageBox &m_box;
    const OptionSource &m_options;
};

} // namespace strobe
