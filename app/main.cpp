#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName("Cartfeeder");
    QLabel label("Cartfeeder");
    label.show();
    return app.exec();
}
