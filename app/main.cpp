// Program entry. The floating window, tray icon and menu are not built yet: until they are,
// the program sets up its folders (first run included) and says plainly what is missing.
#include "Errors.h"
#include "u_Language.h"
#include "u_Store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Nimbril"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NIMBRIL_VERSION));
    AppDir = ExecutableDir();
    FavoritesDir = GetFavoritesDir();

    QTextStream err(stderr);
    try {
        if (!QFileInfo::exists(ConfigFile()))
            CreateDefaultCollection();
        ReadCollectionDir();
        CurrentLanguage = ReadLanguage();
    } catch (const NimbrilError& e) {
        err << e.text() << Qt::endl;
        return 1;
    }
    err << "Nimbril " << QCoreApplication::applicationVersion() << Qt::endl
        << "Collection: " << CollectionRoot << Qt::endl
        << "Language: " << CurrentLanguage << Qt::endl
        << "The floating window, the tray menu and the capture commands are not built yet;"
        << " there is nothing more to start." << Qt::endl;
    return 2;
}
