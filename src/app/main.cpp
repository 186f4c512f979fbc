#include "app/appsettings.h"
#include "tags/genretable.h"

#include <QApplication>
#include <QMainWindow>
#include <QSettings>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kestrine"));
    QApplication::setApplicationName(QStringLiteral("Tunegrove"));

    QSettings store;
    store.setFallbacksEnabled(false);
    AppSettings::Instance().Load(store);
    GenreTable::Build();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Tunegrove"));
    window.setGeometry(AppSettings::Instance().x, AppSettings::Instance().y, AppSettings::Instance().cx,
                       AppSettings::Instance().cy);
    window.show();
    return app.exec();
}
