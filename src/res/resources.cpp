#include "res/resources.h"

#include <QtCore/qglobal.h>

void InitGuiResources()
{
    // Resources compiled into a static library must be registered by name.
    Q_INIT_RESOURCE(tunegrove);
}
