// The non-widget set plus Qt Widgets, for the window libraries, tests and benchmarks.
#include "core.h"
#include <QtGui/QtGui>
#include <QtWidgets/QtWidgets>
