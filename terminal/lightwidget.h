#pragma once

#include <QWidget>

// A status light: a circle filled with its colour, given as a 24-bit colour
// value with red in the low byte (255 red, 65280 green).
class LightWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Red = 255;
    static constexpr int Green = 65280;

    explicit LightWidget(QWidget *parent = nullptr);

    int FillColor() const { return m_fillColor; }
    void setFillColor(int colorValue);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_fillColor = Green;
};
