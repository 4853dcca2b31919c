// Qt headers that nearly every non-widget translation unit includes.
#include <QtCore/QtCore>
#include <QtGui/QColor>
#include <QtGui/QFont>
#include <QtNetwork/QHostAddress>
#include <QtNetwork/QTcpSocket>
#include <QtNetwork/QUdpSocket>
