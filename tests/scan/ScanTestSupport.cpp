#include "ScanTestSupport.h"

#include "scan/TwainComponent.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstring>

namespace pagewren::test {

Bitmap makePage(int width, int height)
{
    Bitmap page(width, height, 24);
    std::memset(page.data(), 0x80, page.sizeBytes());
    page.setXPelsPerMeter(11811);
    page.setYPelsPerMeter(11811);
    return page;
}

bool waitUntilIdle(TwainComponent& twain)
{
    if (twain.IsBusy()) {
        QEventLoop loop;
        bool timedOut = false;
        QObject::connect(&twain, &TwainComponent::acquireFinished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        loop.exec();
        if (timedOut)
            return false;
    }
    QCoreApplication::processEvents();
    return !twain.IsBusy();
}

} // namespace pagewren::test
