// The installed Morvane as users meet it. Installed through DESTDIR, the
// tree is a Debian system's (/usr/bin, a private library directory, /etc,
// the unit) and its Morvane, started with a home of its own, generates what
// the built one generates. The Debian packages built by CPack are inspected
// (files, conffiles, maintainer scripts, dependencies: no Qt in morvane),
// checked by lintian and systemd-analyze, extracted into a throw-away root,
// and the server installed there runs as an unprivileged user with --home,
// serves a session and finishes it on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "server_test_util.h"

namespace morvane::test {
namespace {

namespace fs = std::filesystem;

const std::string kPkgLib = INSTALL_PKGLIBDIR;  // lib/<triplet>/morvane

// The files below dir, by path relative to it, with their contents.
std::map<std::string, std::string> Tree(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file())
            files[fs::relative(e.path(), dir).string()] = ReadFile(e.path().string());
    }
    return files;
}

std::set<std::string> Names(const std::map<std::string, std::string>& tree) {
    std::set<std::string> names;
    for (const auto& [name, text] : tree) names.insert(name);
    return names;
}

// A home as the package's postinst makes it: the four folders, Schemas and
// XML_Data seeded from the installed example archive.
void MakeHome(const std::string& home, const std::string& examples) {
    for (const char* sub : {"Schemas", "ResultsInclude", "ResultsEmptyXml", "XML_Data"})
        MakeDirs(home + "/" + sub);
    fs::copy(examples + "/Schemas", home + "/Schemas", fs::copy_options::recursive);
    fs::copy(examples + "/XML_Data", home + "/XML_Data", fs::copy_options::recursive);
}

// Runs a shell command line; its output and status.
ProgramResult Shell(const std::string& command, const std::string& cwd = "/",
                    std::chrono::milliseconds timeout = std::chrono::seconds(120)) {
    return RunProgram("/bin/sh", {"-c", command}, cwd, timeout);
}

bool HaveProgram(const std::string& name) {
    return Shell("command -v " + name + " >/dev/null").exitCode == 0;
}

TEST(InstallTest, DestdirInstallIsLaidOutLikeTheSystemAndRunsWithAHome) {
    if (std::string(INSTALL_PREFIX) != "/usr") GTEST_SKIP() << "configured for " INSTALL_PREFIX;
    TempDir dest;
    TempDir work;
    ProgramResult install =
        RunProgram(INSTALL_CMAKE_COMMAND, {"--install", INSTALL_BUILD_DIR, "--component", "server"},
                   work.path(), std::chrono::seconds(120), {"DESTDIR=" + dest.path()});
    ASSERT_EQ(install.exitCode, 0) << install.out << install.err;
    for (const std::string& name : std::vector<std::string>{
             "usr/bin/Morvane", "usr/bin/morvanec", "usr/bin/morvane-demo", "etc/morvane/Morvane.ini",
          "lib/systemd/system/morvane.service", "usr/" + kPkgLib + "/libquillog.so",
          "usr/" + kPkgLib + "/libprintdata.so", "usr/share/man/man1/Morvane.1.gz"})
        EXPECT_TRUE(fs::is_regular_file(dest / name)) << name;
    EXPECT_FALSE(fs::exists(dest / "usr/bin/libquillog.so"));
    EXPECT_EQ(Tree(dest / "usr/share/morvane/examples/Schemas"),
              Tree(SourceDir() + "/examples/Schemas"));

    // An install for another prefix would write /etc of this machine: it is
    // refused unless it goes through DESTDIR.
    ProgramResult elsewhere = RunProgram(
        INSTALL_CMAKE_COMMAND, {"--install", INSTALL_BUILD_DIR, "--prefix", work / "prefix"},
        work.path());
    EXPECT_NE(elsewhere.exitCode, 0);
    EXPECT_NE((elsewhere.out + elsewhere.err).find("use DESTDIR=DIR cmake --install"),
              std::string::npos)
        << elsewhere.out << elsewhere.err;

    // The installed Morvane, its logger found in the private library
    // directory, generates what the built one generates.
    TempDir home;
    MakeHome(home.path(), dest / "usr/share/morvane/examples");
    const int port = FreeTcpPort();
    WriteFile(home / "Morvane.ini", "[General]\nPort=" + std::to_string(port) + "\n");
    {
        BackgroundProgram morvane(dest / "usr/bin/Morvane", {"--home", home.path()}, work.path());
        Socket client = Connect(port, std::chrono::seconds(10));
        ASSERT_TRUE(client.valid()) << morvane.Stdout() << morvane.Stderr();
        ASSERT_TRUE(SendAll(client, SizeRequest(kTelemetryId)));
        EXPECT_EQ(RecvExact(client, 16), Frame(MSG_COMM_ANSWER_SIZE, Int32Body({1, 82})));
        EXPECT_EQ(morvane.Stop(SIGTERM), 0);
    }
    TempDir built;
    MakeProgramDir(built.path(), {"Morvane"}, true);
    WriteFile(built / "Morvane.ini", "[General]\nPort=" + std::to_string(FreeTcpPort()) + "\n");
    {
        BackgroundProgram morvane(built / "Morvane", {}, built.path());
        ASSERT_TRUE(WaitFor([&] { return FileExists(built / "ResultsInclude/Schema_Enum.h"); }));
        EXPECT_EQ(morvane.Stop(SIGTERM), 0);
    }
    for (const char* dir : {"ResultsInclude", "ResultsEmptyXml"}) {
        auto installed = Tree(home / dir);
        EXPECT_FALSE(installed.empty()) << dir;
        EXPECT_EQ(installed, Tree(built / dir)) << dir;
    }

    // The installed morvanec, run from elsewhere, generates the same.
    ProgramResult generate =
        RunProgram(dest / "usr/bin/morvanec",
                   {"generate", "-o", work / "generated", home / "Schemas/PosRec.xsd",
                    home / "Schemas/Telemetry.xsd"},
                   work.path());
    ASSERT_EQ(generate.exitCode, 0) << generate.err;
    std::map<std::string, std::string> fromMorvane = Tree(home / "ResultsInclude");
    for (const auto& [name, text] : Tree(home / "ResultsEmptyXml")) {
        if (!name.ends_with(".log")) fromMorvane[name] = text;
    }
    EXPECT_EQ(Tree(work / "generated"), fromMorvane);
}

// The packages CPack built for the fixture test package_build.
class PackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!INSTALL_PACKAGES_BUILT) GTEST_SKIP() << "the packages are checked in the plain build";
        if (std::string(INSTALL_PREFIX) != "/usr")
            GTEST_SKIP() << "the packages need a build configured for /usr, not " INSTALL_PREFIX;
        server_ = Find("morvane_");
        builder_ = Find("morvane-builder_");
        ASSERT_FALSE(server_.empty()) << "no morvane package in " INSTALL_PACKAGES_DIR;
    }
    static std::string Find(const std::string& prefix) {
        if (!fs::is_directory(INSTALL_PACKAGES_DIR)) return "";
        for (const auto& e : fs::directory_iterator(INSTALL_PACKAGES_DIR)) {
            const std::string name = e.path().filename().string();
            if (name.rfind(prefix, 0) == 0 && name.ends_with(".deb")) return e.path().string();
        }
        return "";
    }
    // The package's files (not directories), without the leading ".".
    static std::set<std::string> Contents(const std::string& deb) {
        ProgramResult r = Shell("dpkg-deb --fsys-tarfile '" + deb + "' | tar -t");
        std::set<std::string> files;
        std::istringstream in(r.out);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line.back() != '/') files.insert(line.substr(1));
        return files;
    }
    static std::string Field(const std::string& deb, const std::string& field) {
        return Shell("dpkg-deb -f '" + deb + "' " + field).out;
    }
    static std::string ControlFile(const std::string& deb, const std::string& name) {
        return Shell("dpkg-deb --ctrl-tarfile '" + deb + "' | tar -xO ./" + name).out;
    }

    std::string server_;
    std::string builder_;
};

// dpkg itself installs the package into an overlay of this machine's root,
// its maintainer scripts creating the user and the home; the service's own
// command lines serve a session as that user; then dpkg removes and purges
// it (installed_root.sh).
TEST_F(PackageTest, InstalledByDpkgServesAsItsUserAndIsRemovedCleanly) {
    if (geteuid() != 0) GTEST_SKIP() << "dpkg installs as root only";
    TempDir work;
    const int port = FreeTcpPort();
    BackgroundProgram script("/usr/bin/unshare",
                             {"-m", "/bin/sh", INSTALL_ROOT_SCRIPT, work.path(), server_,
                              std::to_string(port)},
                             work.path());
    ASSERT_TRUE(WaitFor([&] { return FileExists(work / "ready") || !script.Running(); },
                        std::chrono::seconds(120)));
    if (!script.Running()) {
        // 77: the script found no overlay; unshare's own message: no mount
        // namespace for it.
        const int code = script.Stop(SIGTERM);
        if (code == 77 || script.Stderr().rfind("unshare:", 0) == 0)
            GTEST_SKIP() << "no overlay of the root here: " << script.Stderr();
    }
    ASSERT_TRUE(FileExists(work / "ready")) << script.Stdout() << script.Stderr();
    {
        Socket client = Connect(port, std::chrono::seconds(10));
        ASSERT_TRUE(client.valid()) << ReadFile(work / "server.log");
        ASSERT_TRUE(SendAll(client, OpenSession("Service.xml")));
        ASSERT_TRUE(SendAll(client, WriteRequest(kPosRecId, PosRecRecordOf(1))));
        ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
        ASSERT_TRUE(RecvExact(client, 16).has_value());
    }
    WriteFile(work / "stop", "");
    EXPECT_EQ(script.Stop(0, std::chrono::seconds(60)), 0) << script.Stderr();
    std::map<std::string, std::string> found;
    std::istringstream lines(script.Stdout());
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) found[line.substr(0, colon)] = line.substr(colon + 2);
    }
    const std::map<std::string, std::string> expected = {
        {"status", "install ok installed"},
        {"user", "morvane:/var/lib/morvane:/usr/sbin/nologin"},
        {"home", "morvane:morvane 750 morvane:morvane 750 "},
        {"seeded", "PosRec.xsd Telemetry.xsd "},
        {"check", "0"},
        // SIGTERM finishes the open session and ends the server with 0.
        {"stopped", "0"},
        {"log owner", "morvane"},
        // Removing keeps the configuration; purging takes it, and leaves
        // the user and the data.
        {"removed", "/etc/morvane/Morvane.ini "},
        {"purged", "morvane /var/lib/morvane/XML_Data/Service.xml "},
    };
    EXPECT_EQ(found, expected) << script.Stdout() << ReadFile(work / "dpkg.log");
    EXPECT_EQ(ReadFile(work / "Service.xml"), SessionText({PosRecRecordText(1, PosRecOf(1))}));
}

TEST_F(PackageTest, FilesDependenciesAndMaintainerScriptsAreADaemons) {
    const std::string lib = "/usr/" + kPkgLib;
    const std::set<std::string> server = {
        "/usr/bin/Morvane",
        "/usr/bin/morvanec",
        "/usr/bin/morvane-demo",
        lib + "/libquillog.so",
        lib + "/libprintdata.so",
        "/etc/morvane/Morvane.ini",
        "/etc/logrotate.d/morvane",
        "/lib/systemd/system/morvane.service",
        "/usr/share/man/man1/Morvane.1.gz",
        "/usr/share/man/man1/morvanec.1.gz",
        "/usr/share/man/man1/morvane-demo.1.gz",
        "/usr/share/bash-completion/completions/morvanec",
        "/usr/share/doc/morvane/copyright",
        "/usr/share/doc/morvane/changelog.gz",
        "/usr/share/doc/morvane/README.md",
        "/usr/share/doc/morvane/Morvane.ini.example",
        "/usr/share/morvane/examples/Schemas/PosRec.xsd",
        "/usr/share/morvane/examples/Schemas/Telemetry.xsd",
        "/usr/share/morvane/examples/XML_Data/Telemetry_dataR.xml",
    };
    EXPECT_EQ(Contents(server_), server);
    EXPECT_EQ(ControlFile(server_, "conffiles"), "/etc/morvane/Morvane.ini\n/etc/logrotate.d/morvane\n");
    const std::string depends = Field(server_, "Depends");
    EXPECT_NE(depends.find("adduser"), std::string::npos) << depends;
    EXPECT_NE(depends.find("libpugixml"), std::string::npos) << depends;
    EXPECT_EQ(depends.find("qt"), std::string::npos) << depends;
    EXPECT_NE(Field(server_, "Maintainer").find('@'), std::string::npos);

    // The scripts parse, make the system user and its home, and leave the
    // user and the data when the package is purged.
    for (const char* script : {"postinst", "prerm", "postrm"}) {
        const std::string text = ControlFile(server_, script);
        ASSERT_FALSE(text.empty()) << script;
        TempDir dir;
        WriteFile(dir / script, text);
        EXPECT_EQ(Shell("sh -n " + (dir / script)).exitCode, 0) << script;
    }
    const std::string postinst = ControlFile(server_, "postinst");
    EXPECT_NE(postinst.find("adduser --system --group"), std::string::npos);
    EXPECT_NE(postinst.find("/var/lib/morvane"), std::string::npos);
    const std::string postrm = ControlFile(server_, "postrm");
    EXPECT_EQ(postrm.find("deluser"), std::string::npos);
    EXPECT_EQ(postrm.find("rm -"), std::string::npos);

    const std::string unit = ReadFile(SourceDir() + "/packaging/morvane.service");
    for (const char* line :
         {"User=morvane\n", "ExecStartPre=/usr/bin/Morvane --check --home /var/lib/morvane --config "
                            "/etc/morvane/Morvane.ini\n",
          "ExecStart=/usr/bin/Morvane --home /var/lib/morvane --config /etc/morvane/Morvane.ini\n",
          "KillSignal=SIGTERM\n", "Restart=on-failure\n", "NoNewPrivileges=yes\n",
          "ProtectSystem=strict\n", "ReadWritePaths=/var/lib/morvane\n", "PrivateTmp=yes\n"})
        EXPECT_NE(unit.find(line), std::string::npos) << line;
    const std::string rotate = ReadFile(SourceDir() + "/packaging/morvane.logrotate");
    EXPECT_NE(rotate.find("copytruncate"), std::string::npos);
    EXPECT_NE(rotate.find("su morvane morvane"), std::string::npos);

    if (INSTALL_WITH_BUILDER) {
        ASSERT_FALSE(builder_.empty());
        EXPECT_EQ(Contents(builder_),
                  (std::set<std::string>{"/usr/bin/MorvaneBuilder",
                                         "/usr/share/man/man1/MorvaneBuilder.1.gz",
                                         "/usr/share/doc/morvane-builder/copyright",
                                         "/usr/share/doc/morvane-builder/changelog.gz"}));
        const std::string builderDepends = Field(builder_, "Depends");
        EXPECT_NE(builderDepends.find("morvane (= "), std::string::npos) << builderDepends;
        EXPECT_NE(builderDepends.find("libqt6widgets6"), std::string::npos) << builderDepends;
    }
}

TEST_F(PackageTest, LintianFindsNoErrorNorWarning) {
    if (!HaveProgram("lintian")) GTEST_SKIP() << "lintian is not installed";
    // Every package built, the client libraries' among them.
    std::string debs;
    for (const auto& e : fs::directory_iterator(INSTALL_PACKAGES_DIR))
        if (e.path().extension() == ".deb") debs += " '" + e.path().string() + "'";
    ProgramResult r = Shell("lintian --tag-display-limit 0 " + debs + " 2>&1", "/",
                            std::chrono::seconds(280));
    std::istringstream in(r.out);
    std::string complaints;
    for (std::string line; std::getline(in, line);)
        if (line.rfind("E: ", 0) == 0 || line.rfind("W: ", 0) == 0) complaints += line + "\n";
    EXPECT_EQ(complaints, "");
    EXPECT_FALSE(r.timedOut);
}

TEST_F(PackageTest, InstalledServerRunsAsItsOwnUserOnItsHome) {
    TempDir root;
    ASSERT_EQ(Shell("dpkg-deb -x '" + server_ + "' '" + root.path() + "'").exitCode, 0);

    // The unit as systemd reads it, its commands those of the extracted
    // package.
    if (HaveProgram("systemd-analyze")) {
        TempDir units;
        std::string unit = ReadFile(root / "lib/systemd/system/morvane.service");
        for (size_t at = unit.find("/usr/bin/"); at != std::string::npos;
             at = unit.find("/usr/bin/", at + root.path().size() + 9))
            unit.insert(at, root.path());
        WriteFile(units / "morvane.service", unit);
        ProgramResult verify =
            Shell("systemd-analyze verify --man=no '" + (units / "morvane.service") + "' 2>&1");
        EXPECT_EQ(verify.exitCode, 0) << verify.out;
        EXPECT_EQ(verify.out, "");
    }

    // An unprivileged user, as the unit's User= is: nobody, when the test
    // may change users; the test's own user otherwise.
    const bool asNobody = geteuid() == 0;
    TempDir home;
    MakeHome(home.path(), root / "usr/share/morvane/examples");
    const int port = FreeTcpPort();
    TempDir etc;
    // The shipped settings on a free port.
    std::string ini = ReadFile(root / "etc/morvane/Morvane.ini");
    ini.replace(ini.find("Port=25000"), 10, "Port=" + std::to_string(port));
    WriteFile(etc / "Morvane.ini", ini);
    const std::map<std::string, std::string> installed = Tree(root.path());
    std::vector<std::string> command;
    if (asNobody) {
        for (const std::string& dir : {root.path(), etc.path()}) chmod(dir.c_str(), 0755);
        ASSERT_EQ(Shell("chown -R 65534:65534 '" + home.path() + "'").exitCode, 0);
        command = {"--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    for (const std::string& word : {root / "usr/bin/Morvane", std::string("--home"), home.path(),
                                    std::string("--config"), etc / "Morvane.ini"})
        command.push_back(word);
    const std::string exe = asNobody ? "/usr/bin/setpriv" : command[0];
    if (!asNobody) command.erase(command.begin());

    std::vector<std::string> check = command;
    check.push_back("--check");
    ProgramResult checked = RunProgram(exe, check, home.path());
    EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err;

    {
        BackgroundProgram morvane(exe, command, etc.path());
        Socket client = Connect(port, std::chrono::seconds(10));
        ASSERT_TRUE(client.valid()) << morvane.Stdout() << morvane.Stderr();
        ASSERT_TRUE(SendAll(client, OpenSession("Service.xml")));
        ASSERT_TRUE(SendAll(client, WriteRequest(kPosRecId, PosRecRecordOf(1))));
        ASSERT_TRUE(SendAll(client, SizeRequest(kPosRecId)));
        ASSERT_TRUE(RecvExact(client, 16).has_value());
        // Stopped with the session open: SIGTERM finishes the file.
        EXPECT_EQ(morvane.Stop(SIGTERM), 0) << morvane.Stdout() << morvane.Stderr();
    }
    EXPECT_EQ(ReadFile(home / "XML_Data/Service.xml"),
              SessionText({PosRecRecordText(1, PosRecOf(1))}));
    struct stat st{};
    ASSERT_EQ(stat((home / "Morvane.log").c_str(), &st), 0);
    if (asNobody) {
        EXPECT_EQ(st.st_uid, 65534u);
    }
    EXPECT_TRUE(FileExists(home / "ResultsInclude/posrec.h"));
    // Nothing was written beside the programs or anywhere else in the root.
    EXPECT_EQ(Names(Tree(root.path())), Names(installed));
}

}  // namespace
}  // namespace morvane::test
