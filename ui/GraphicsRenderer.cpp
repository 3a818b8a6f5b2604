#include "ui/GraphicsRenderer.h"

#include <QApplication>
#include <QPalette>

GraphicsRenderer::GraphicsRenderer()
    : m_background(QApplication::palette().color(QPalette::Active, QPalette::Window))
{}
