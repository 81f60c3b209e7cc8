#pragma once

namespace shell {

class MainWindow;

// What a later launch of the program shows: a box that waits for an answer,
// else the open strobe, else the main window, brought forward and activated.
void comeForward(MainWindow &window);

} // namespace shell
