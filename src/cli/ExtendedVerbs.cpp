#include "cli/ExtendedVerbs.h"

#include "cli/CliCommands.h"

namespace velmaris::cli {

const char volumeUsageText[] =
    "  norvane-cli volume --db FILE SERIES_UID [--orientation] --out RAW\n"
    "  norvane-cli mpr --db FILE SERIES_UID --plane axial|coronal|sagittal [--index N]\n"
    "      [--window CENTER WIDTH] [--slab-mm T] [--slab-mode mip|minip|mean] --out PNG\n"
    "  norvane-cli mpr --db FILE SERIES_UID --oblique --u X,Y,Z --v X,Y,Z [--centre X,Y,Z]\n"
    "      [--size N] [--mm-per-pixel S] [--window CENTER WIDTH] [--slab-mm T] [--slab-mode ...] --out PNG\n";

const char vrtUsageText[] =
    "  norvane-cli vrt --db FILE SERIES_UID [--preset NAME | --mode mip|minip|mean]\n"
    "      [--view front|back|right|left|top|bottom] [--size WxH] [--renderer software|opengl|auto] --out PNG\n";

const char cprUsageText[] =
    "  norvane-cli cpr --db FILE SERIES_UID (--points \"X,Y,Z;X,Y,Z;...\" | --params FILE.cprstate.json)\n"
    "      [--width-mm W] [--step-mm S] [--thickness-mm T --slab-mode mip|minip|mean] [--rotation DEG]\n"
    "      [--offset-mm O] [--tension T] [--window CENTER WIDTH] --out PNG\n"
    "  norvane-cli trace --db FILE SERIES_UID --from X,Y,Z --to X,Y,Z\n";

namespace {

ExtendedVerbRunner extendedVerbRunner = nullptr;

} // namespace

bool isExtendedVerb(const QString &command)
{
    static const QStringList verbs{QStringLiteral("volume"), QStringLiteral("mpr"),  QStringLiteral("vrt"),
                                   QStringLiteral("cpr"),    QStringLiteral("trace"), QStringLiteral("echo"),
                                   QStringLiteral("find"),   QStringLiteral("get"),   QStringLiteral("move"),
                                   QStringLiteral("send"),   QStringLiteral("serve")};
    return verbs.contains(command);
}

void setExtendedVerbRunner(ExtendedVerbRunner runner)
{
    extendedVerbRunner = runner;
}

int runExtendedVerb(const QStringList &arguments, std::FILE *out, std::FILE *err)
{
    if (extendedVerbRunner == nullptr) {
        std::fputs("Эту команду выполняет norvane-cli-ext, а её здесь нет\n", err);
        return RuntimeFailure;
    }
    return extendedVerbRunner(arguments, out, err);
}

} // namespace velmaris::cli
