// The hidapi C functions, answered by the simulated bus instead of the operating system.
#include "SimBus.h"

#include <hidapi.h>

using zsim::Bus;

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    return 0;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    return Bus::instance().enumerate(vendor_id, product_id);
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    Bus::instance().freeEnumeration(devs);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id,
                                                 unsigned short product_id,
                                                 const wchar_t * /*serial_number*/)
{
    return Bus::instance().open(vendor_id, product_id);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
    return Bus::instance().openPath(path);
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    return Bus::instance().write(dev, data, length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data,
                                                 size_t length, int milliseconds)
{
    return Bus::instance().read(dev, data, length, milliseconds);
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return Bus::instance().read(dev, data, length, -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device *dev, int nonblock)
{
    return Bus::instance().setNonblocking(dev, nonblock);
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device *, const unsigned char *, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device *, unsigned char *, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device *, unsigned char *, size_t)
{
    return -1;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    Bus::instance().close(dev);
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device *, wchar_t *string, size_t maxlen)
{
    if (string == nullptr || maxlen == 0)
        return -1;
    wcsncpy(string, L"Korvel", maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device *, wchar_t *string, size_t maxlen)
{
    if (string == nullptr || maxlen == 0)
        return -1;
    wcsncpy(string, L"Z-PORT", maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device *, wchar_t *string, size_t maxlen)
{
    if (string == nullptr || maxlen == 0)
        return -1;
    string[0] = L'\0';
    return 0;
}

HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *)
{
    return L"simulated Z-PORT: transfer failed";
}

HID_API_EXPORT const struct hid_api_version *HID_API_CALL hid_version(void)
{
    static const hid_api_version version = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                            HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char *HID_API_CALL hid_version_str(void)
{
    return HID_API_VERSION_STR;
}

} // extern "C"
