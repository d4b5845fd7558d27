#include "FaultMatrix.h"

#include "RdsUsbFields.h"
#include "rds_usb.h"

namespace faults {

int requestsOfRow(int row)
{
    switch (RdsUsbFields[row].IdRdsFunction) {
    case RDS_USB_WRITE_PS1_RAM:
    case RDS_USB_WRITE_PS1_E2P: return RDS_USB_PS_LENGTH / 4;
    case RDS_USB_WRITE_RT_RAM:
    case RDS_USB_WRITE_RT_E2P: return RDS_USB_RT_LENGTH / 4;
    default: return 1;
    }
}

} // namespace faults
