// The service façade: the one object through which the application shell
// starts the network service, reads its state and stops it.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include <boost/asio/io_service.hpp>
#include <boost/core/noncopyable.hpp>

#include "service/zq_server.h"

namespace zq {

class ZqSrv : boost::noncopyable {
public:
    // Creates the server and starts the worker thread; errors propagate.
    ZqSrv();
    // Stops the service: returns once the server's I/O loop has exited.
    virtual ~ZqSrv();

    // Accessors for the dialog; those that read the server go through gSrv.
    static std::string getCpuUsage();
    static std::string getOsDesc();
    static std::string getHostName();
    static std::string getCommonLocalIps();
    static std::string getTriggerText();
    static std::string getOrvane();
    static std::string getCloud();
    static std::string takeEventLog();
    // The CPU alarms sent so far, and what the last one was.
    static unsigned long getAlarmsSent();
    static std::string getLastAlarm();

    std::shared_ptr<std::thread> mThread;
    ZqServer* mServer = nullptr;
    // Never run: it holds the platform's sockets started for the façade's life.
    boost::asio::io_service mIoService;
};

}  // namespace zq

// The one façade, set by the entry while the dialog runs.
extern zq::ZqSrv* gSrv;
