#pragma once

#include <QWidget>

// The one window of Pictelle. Handler names follow the Control_Event form of the product's
// documents (Check2_Click, Slider1_Change, Form_Load), so they are not lowerCamel.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
};
