#pragma once

#include "app/tform1.h"
#include "support/simprocess.h"
#include "support/windowdriver.h"

#include <optional>

// The unit simulator on a pty linked as COM5 in a private COM folder, and the main window on
// a clock sped up a hundredfold, made once the simulator runs so that its scan lists COM5.
struct ConnectedWindow {
    ComFolder folder;
    SimProcess sim{folder.path(), QStringLiteral("COM5")};
    std::optional<TForm1> form;

    // Starts the simulator, with `block` as its settings when one is given, and opens the
    // window; nothing goes over the line.
    bool open(const QByteArray &block = {})
    {
        if (!sim.start())
            return false;
        if (!block.isEmpty())
            sim.setBlock(block);
        form.emplace(nullptr, 100);
        return waitIdle(*form);
    }

    // open() and "Подключить"; the wire record then starts empty. True when connected.
    bool connect(const QByteArray &block = {})
    {
        if (!open(block))
            return false;
        const bool ended = press(form->Button1);
        sim.clearRecord();
        if (!form->connected())
            qWarning().noquote() << (ended ? "not connected:" : "connect never ended:")
                                 << form->Memo1->toPlainText();
        return form->connected();
    }
};
