// Address and link changes on Linux: a route netlink socket subscribed to
// the IPv4 address, link and route groups, read through the I/O service.
#include "net/address_watch.h"

#include <array>
#include <cstring>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <boost/asio/generic/raw_protocol.hpp>

#include "trace/trace.h"

struct AddressWatch::Impl {
    explicit Impl(boost::asio::io_service& ioService) : socket(ioService) {}

    void receive()
    {
        std::weak_ptr<bool> weak = alive;
        socket.async_receive(boost::asio::buffer(buffer),
                             [this, weak](const boost::system::error_code& error, std::size_t) {
                                 if (weak.expired() || error == boost::asio::error::operation_aborted)
                                     return;
                                 // An overflow (ENOBUFS) lost some messages: a
                                 // change all the same.
                                 onChange();
                                 receive();
                             });
    }

    boost::asio::generic::raw_protocol::socket socket;
    std::array<char, 8192> buffer{};
    std::function<void()> onChange;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

AddressWatch::AddressWatch(boost::asio::io_service& ioService) : impl_(new Impl(ioService)) {}

AddressWatch::~AddressWatch()
{
    impl_->alive.reset();
    boost::system::error_code ignored;
    impl_->socket.close(ignored);
}

bool AddressWatch::start(std::function<void()> onChange)
{
    impl_->onChange = std::move(onChange);
    sockaddr_nl local;
    std::memset(&local, 0, sizeof local);
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    boost::system::error_code error;
    impl_->socket.open(boost::asio::generic::raw_protocol(AF_NETLINK, NETLINK_ROUTE), error);
    if (!error)
        impl_->socket.bind(boost::asio::generic::raw_protocol::endpoint(&local, sizeof local), error);
    if (error) {
        trace("AddressWatch::start  no netlink notice [%s]\n", error.message().c_str());
        boost::system::error_code ignored;
        impl_->socket.close(ignored);
        return false;
    }
    impl_->receive();
    return true;
}
