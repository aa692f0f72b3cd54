// Notice of changes to the host's IPv4 addresses and interfaces, from the
// platform: a netlink socket on the I/O service on Linux, the IP Helper's
// change notifications on Windows. Platform code, one source file each
// (address_watch_posix.cpp, address_watch_win.cpp).
#pragma once

#include <functional>
#include <memory>

#include <boost/asio/io_service.hpp>

class AddressWatch {
public:
    explicit AddressWatch(boost::asio::io_service& ioService);
    AddressWatch(const AddressWatch&) = delete;
    AddressWatch& operator=(const AddressWatch&) = delete;
    ~AddressWatch();

    // From now on calls onChange on the I/O service's thread after each
    // change that the platform reports (several changes may come as one
    // call). Returns false when the platform gives no notice; nothing is
    // called then. Never throws.
    bool start(std::function<void()> onChange);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
