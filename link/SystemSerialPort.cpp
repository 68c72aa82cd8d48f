#include "SystemSerialPort.h"

#include "PortName.h"

bool SystemSerialPort::open()
{
    m_active->close();
    m_active = hasPortScheme(m_name) ? static_cast<SerialPort *>(&m_network) : &m_device;
    m_active->setPortName(m_name);
    return m_active->open();
}
