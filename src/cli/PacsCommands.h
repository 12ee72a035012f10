#pragma once

#include "pacs/PacsConfig.h"

#include <QString>
#include <QStringList>

// The PACS verbs of norvane-cli: the same client calls the workstation makes,
// for scripts and tests.
#define PACS_USAGE_TEXT                                                                                        \
    "  norvane-cli echo NODE\n"                                                                                \
    "  norvane-cli find NODE [--name N] [--patient-id ID] [--modalities CT\\\\MR] [--from yyyyMMdd] [--to yyyyMMdd]\n" \
    "  norvane-cli get NODE STUDY_UID --out DIR [--db FILE]\n"                                                \
    "  norvane-cli move NODE STUDY_UID [--dest AET]\n"                                                         \
    "  norvane-cli send NODE FILE|DIR...\n"                                                                    \
    "  NODE: --host HOST --port PORT --aet AET | --node N (номер или описание настроенного сервера);\n"       \
    "        --local-aet AET (по умолчанию из настроек PACS)\n"

namespace velmaris::cli {

class Output;

// The workstation's own PACS configuration, whatever this tool's application
// name.
pacs::PacsConfig savedPacsConfig();

bool isPacsCommand(const QString &command);
int runPacsCommand(const QString &command, const QStringList &arguments, Output &output);

} // namespace velmaris::cli
