#pragma once
// "Experiment": repeated channel runs of the current stream through
// kestrune-experiment, here with a progress bar and Cancel, or written as a
// Slurm job for a cluster; afterwards the plots and the paired differences
// between the concealment pairs.
#include "runner/experiment.h"
#include "runner/prompts.h"

#include <QDialog>
#include <QPixmap>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProcess;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QSplitter;
class QTableWidget;
class QTabWidget;

class ExperimentDialog : public QDialog {
    Q_OBJECT
public:
    // program: the kestrune-experiment to start.
    ExperimentDialog(QString program, kestrune::Prompts& prompts, QWidget* parent = nullptr);

    // Fills the fields from the window's current settings.
    void prefill(const kestrune::experiment::Settings& settings, const QString& output);
    // The settings as the fields give them (validated by the tool).
    kestrune::experiment::Settings settings() const;
    // The first field whose text is no value (first seed, output folder, Slurm
    // time limit), then the settings' own first problem; empty when good.
    QString fieldProblem(bool forSlurm) const;

    void runHere();          // "Run here"
    // "Resume": the experiment of the output folder, only its runs without a
    // row; the fields show its settings.
    void resumeRun();
    void writeSlurmJob();    // "Write a Slurm job"
    void cancelRun();        // "Cancel" while running
    bool running() const;
    // Shows the plots and paired differences of an experiment folder.
    void showResults(const QString& folder);

    QProgressBar* progressBar() const { return progress_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* plotLabel() const { return plot_; }
    QTableWidget* differencesTable() const { return differences_; }

signals:
    void runFinished();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void startTool(const QStringList& arguments, int runs, const QString& status);
    void readProgress();
    void finishRun();
    void setFieldsEnabled(bool enabled);
    void fitDifferences();
    void browse(QLineEdit* field, const QString& filter);
    void browseFolder();
    void scalePlots();

    QString program_;
    kestrune::Prompts& prompts_;
    QLineEdit *stream_, *original_, *width_, *height_, *lossRates_, *bursts_, *seed_, *output_, *timeLimit_;
    QSpinBox *runs_, *jobs_, *shards_, *mtu_;
    QLineEdit* channels_;
    QComboBox *packets_, *parameterSets_;
    QList<QCheckBox*> pairs_;
    QList<QPushButton*> browseButtons_;
    QPushButton *runHere_, *resume_, *writeSlurm_, *cancel_;
    QProgressBar* progress_;
    QLabel *status_, *plot_, *burstPlot_;
    QTabWidget* plots_;
    QTableWidget* differences_;
    QSplitter* results_;
    QPixmap plotImage_, burstPlotImage_;
    QProcess* process_ = nullptr;
    QByteArray pending_;
    QString runOutput_;       // the output folder of the run under way, fixed at Run
};
