#pragma once

#include "support/Fakes.h"
#include "support/GatedQueues.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace vellorin::test {

// One window's worth of test platform: real queues (with a gate on recovery runs), a real
// file system below a temporary folder, and panels, alerts and workspace the test answers.
struct WindowHarness {
    QTemporaryDir scratch;
    TestPlatform services{scratch.path()};
    std::shared_ptr<GatedQueues> gate = std::make_shared<GatedQueues>(services.queues);

    WindowHarness() { services.settings->seen = true; }

    Platform platform() const {
        Platform p = services.platform();
        p.queues = gate;
        return p;
    }

    QString folder(const QString& name) const {
        const QString path = scratch.path() + QLatin1Char('/') + name;
        QDir().mkpath(path);
        return path;
    }
    QString writeFile(const QString& relative, const QByteArray& bytes) const {
        const QString path = scratch.path() + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }

    // A user's click on the button's middle, then the panel answered with a folder.
    void clickAndAnswer(QPushButton* button, const QString& folder) {
        QTRY_VERIFY(button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QTRY_VERIFY(!services.panels->requests.empty());
        services.panels->answer(folder);
    }
};

} // namespace vellorin::test
