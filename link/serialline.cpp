#include "serialline.h"

#include "qserialline.h"

static SerialLineFactory &factorySlot()
{
    static SerialLineFactory factory;
    return factory;
}

std::unique_ptr<SerialLine> makeSerialLine()
{
    if (factorySlot())
        return factorySlot()();
    return std::make_unique<QSerialLine>();
}

void setSerialLineFactory(SerialLineFactory factory)
{
    factorySlot() = std::move(factory);
}
