#include <Poco/ClassLoader.h>
#include <Poco/Exception.h>
#include <gtest/gtest.h>

#include <locale>
#include <memory>

#include "host/IModule.h"
#include "tests/support/CTemporaryObjectRoot.h"
#include "tests/support/CTestHost.h"

using Zun::Common::Kernel::IModule;

namespace {

const char* kClassName = "Zun::Connectors::QUILConnector::CConnectorModule";

class IOtherBase {
public:
    virtual ~IOtherBase() = default;
};

TEST(ModuleLoaderTest, HostLoadsTheModuleByClassName) {
    Zun::Testing::CTemporaryObjectRoot root;  // no registry: the product is absent
    const std::locale hostLocale;
    Poco::ClassLoader<IModule> loader;
    loader.loadLibrary(QUIL_CONNECTOR_PATH);
    ASSERT_TRUE(loader.canCreate(kClassName));
    const Poco::AbstractMetaObject<IModule>& meta = loader.classFor(kClassName);
    try {
        meta.instance();
        FAIL() << "a module is no singleton";
    } catch (const Poco::InvalidAccessException& e) {
        EXPECT_EQ(std::string("Not a singleton. Use create() to create instances of: ") + kClassName,
                  e.message());
    }
    {
        Zun::Testing::CTestHost host;
        std::unique_ptr<IModule> module(meta.create());
        EXPECT_EQ("CQUILConnectorModule", module->GetName());
        module->Initialize(host);
        module->Start();
        module->Stop();
        EXPECT_TRUE(module->Terminate(false));
        ASSERT_EQ(1u, host.CountPublished(10405)) << "the deactivated product status";
        EXPECT_EQ("StatusLog_ProductStatus", host.PublishedOfType(10405)[0].message->Describe());
    }
    loader.unloadLibrary(QUIL_CONNECTOR_PATH);
    EXPECT_TRUE(std::locale() == hostLocale) << "the module's locale must not outlive the module";
}

TEST(ModuleLoaderTest, ManifestForAnotherBaseIsRefused) {
    Poco::ClassLoader<IOtherBase> loader;
    EXPECT_THROW(loader.loadLibrary(QUIL_CONNECTOR_PATH), Poco::LibraryLoadException);
    EXPECT_FALSE(loader.isLibraryLoaded(QUIL_CONNECTOR_PATH));
}

}  // namespace
