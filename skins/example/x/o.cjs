/* Lumivex example skin: a dark slate look.
   Relative url() paths are taken from this file's folder. */

#Form1 {
    background-color: #1c2633;
    background-image: url(stripes.png);
}

QGroupBox {
    background-color: #2b3a4d;
    color: #f2c14e;
    border: 1px solid #f2c14e;
    border-radius: 4px;
    margin-top: 8px;
}

QGroupBox::title {
    subcontrol-origin: margin;
    left: 8px;
    padding: 0 4px;
}

QComboBox {
    background-color: #eef2f7;
    color: #1c2633;
    border: 1px solid #f2c14e;
    border-radius: 3px;
    padding: 1px 6px;
}

QPushButton {
    background-color: #f2c14e;
    color: #1c2633;
    border: none;
    border-radius: 4px;
}

QPushButton:hover {
    background-color: #f7d47f;
}

QPushButton:pressed {
    background-color: #d9a52e;
}
