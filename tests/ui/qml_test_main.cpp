#include "rig_controller.h"
#include "ui_models.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QStandardPaths>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>

Q_IMPORT_QML_PLUGIN(Strata_UiPlugin)

namespace {

// Each test file gets its own engine and, with it, its own rig named `rig`.
class Setup : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void applicationAvailable() {
        // Folders the views look up (the save dialog's starting folder) stay out of the user's.
        QStandardPaths::setTestModeEnabled(true);
        strata::installAppearance();
    }

    void qmlEngineAvailable(QQmlEngine* engine) {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));
        engine->rootContext()->setContextProperty(QStringLiteral("rig"),
                                                  new strata::testing::RigController(engine));
    }
};

} // namespace

QUICK_TEST_MAIN_WITH_SETUP(strata_ui, Setup)

#include "qml_test_main.moc"
