#include "trafficcells.h"

QAbstractItemDelegate *makeTrafficCells(QObject *parent)
{
    return new PlainCells(parent);
}
