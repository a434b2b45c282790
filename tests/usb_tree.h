#ifndef ZEF_TESTS_USB_TREE_H_
#define ZEF_TESTS_USB_TREE_H_

#include <string>

#include "tests/temp_tree.h"

// Lays out USB devices under <tree>/sys as the kernel does: real directories
// below sys/devices, and sys/bus/usb/devices holding one relative symlink per
// device and per interface.
class UsbTree {
public:
    explicit UsbTree(const TempTree& tree) : tree_(tree) {}

    // A device "1-N" with optional attribute files; an empty value means the
    // file is absent.
    void addDevice(const std::string& device, const std::string& serial,
                   const std::string& manufacturer, const std::string& product) {
        const std::string dir = devicePath(device);
        tree_.makeDir(dir);
        writeIfGiven(dir + "/serial", serial);
        writeIfGiven(dir + "/manufacturer", manufacturer);
        writeIfGiven(dir + "/product", product);
        link(device, dir);
    }

    // Interface "<device>:1.N" with the given class file content.
    void addInterface(const std::string& device, const std::string& interface,
                      const std::string& classFile) {
        const std::string dir = devicePath(device) + "/" + interface;
        tree_.writeFile(dir + "/bInterfaceClass", classFile);
        link(interface, dir);
    }

private:
    static std::string devicePath(const std::string& device) {
        return "sys/devices/pci0000:00/0000:00:14.0/usb1/" + device;
    }
    void writeIfGiven(const std::string& path, const std::string& value) {
        if (!value.empty()) tree_.writeFile(path, value);
    }
    void link(const std::string& entry, const std::string& dir) {
        tree_.symlinkTo("../../../" + dir.substr(4), "sys/bus/usb/devices/" + entry);
    }
    const TempTree& tree_;
};

#endif  // ZEF_TESTS_USB_TREE_H_
