#pragma once
// The main window: every control under its designer name, the workbench
// state, and one public handler per control event. Handler bodies live in
// the *_handlers.cpp files by area; every signal reaches its handler through
// guard(), which shows run-time errors in the central error box.
#include "main_window/workbench_state.h"
#include "runner/log_sink.h"
#include "runner/prompts.h"
#include "runner/tool_runner.h"

#include <QMainWindow>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QWidget;
class NalUnitMap;
class RadioGroup;
class UpDown;
class TForm2;
class TForm3;
struct ResultsState;
namespace kestrune {
enum class PlayerRole;
}

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(kestrune::Prompts& prompts, QWidget* parent = nullptr);
    ~TForm1() override;

    // Runs a handler; a UserError or std::exception it throws is shown in
    // the central error box and the program keeps running.
    void guard(const std::function<void()>& handler);

    // The log (Memo1) as the runner's sink: appended lines, one addition each.
    kestrune::LogSink& logSink() { return *logSink_; }
    // Runs a command file the caller has written and captures into the log;
    // the common part of XbatchRun, FbatchRun and GilbertRun.
    kestrune::RunOutcome runTool(const kestrune::ToolRun& run);

    // --- shell (shell_handlers.cpp)
    void FormCreate();
    void FormClose();
    void Exit1Click();
    void About2Click();
    void BitBtn1Click();
    void XbatchRun();
    void FbatchRun();
    void GilbertRun();

    // --- encoder panel (encoder_handlers.cpp)
    void ComboBox1Change();
    void TrackBar1Change();
    void UpDown1Changing();
    void Edit2Change();
    void RadioButton1Enter();
    void RadioButton2Enter();
    void CheckBox6Click();
    void Edit5Change();
    void Edit10Change();
    void Button1Click();
    void Button2Click();
    void Button3Click();

    // --- stream analyzer (analyzer_handlers.cpp)
    void AnalyzeRun();
    void ComboBox2Change();
    void StreamAnalyze();
    void StringGrid1SelectCell(int column, int row);
    void Properties1Click();
    void Delete1Click();

    // --- channel (channel_handlers.cpp)
    void Button4Click();
    void Button9Click();
    // Runs the analyzer over the stream in the ReadTotal analysis mode, which
    // leaves the stream's NAL unit total in state.nalUnitCount (0 on failure).
    void countNalUnits(const QString& stream);

    // --- decoder (decoder_handlers.cpp)
    void Button5Click();
    void Button6Click();
    void Button10Click();
    void moveDecodedOutput();   // FbatchRun's extra step

    // --- playback (player_handlers.cpp)
    void H264VideoPlayer1Click();
    void YUVSequencePlayer1Click();
    void Button7Click();
    void Button8Click();
    void Play(const QString& program, const QString& file);
    // The player dialog's OK: store the path of its role and save both.
    void storePlayerPath(kestrune::PlayerRole role, const QString& path);

    // --- results: quality after Decode, plot, experiments (results_handlers.cpp)
    void QualityPlot1Click();
    void Experiment1Click();
    void reportDecodeQuality(const QString& output); // after a decode placed its output
    void noteChannelRun(const QString& output, const QString& lossRate);
    ResultsState& results() { return *results_; }

    WorkbenchState state;
    kestrune::Prompts& prompts;
    TForm2* Form2 = nullptr;   // About dialog
    TForm3* Form3 = nullptr;   // player dialog

    // Menus
    QMenu* File1;
    QAction* Exit1;
    QMenu* Options1;
    QAction* H264VideoPlayer1;
    QAction* YUVSequencePlayer1;
    QMenu* View1;
    QAction* QualityPlot1;
    QAction* Experiment1;
    QMenu* Help1;
    QAction* About2;
    QMenu* PopupMenu1;
    QAction* Properties1;
    QAction* Delete1;

    // Group boxes and pages
    QGroupBox* GroupBox1;      // Encoder Settings
    QTabWidget* PageControl1;
    QWidget* TabSheet1;        // General
    QWidget* TabSheet2;        // Motion Estimation
    QWidget* TabSheet3;        // Partition
    QWidget* TabSheet4;        // Analysis
    QGroupBox* GroupBox2;      // General: Input/Output
    QGroupBox* GroupBox3;      // General: Rate Control
    QGroupBox* GroupBox4;      // Partition Sizes
    QGroupBox* GroupBox5;      // Encoding Settings
    QGroupBox* GroupBox6;      // Multislicing Settings
    QGroupBox* GroupBox7;      // Flexible Macroblock Ordering
    QGroupBox* GroupBox9;      // Channel Settings
    QTabWidget* PageControl2;
    QWidget* TabSheet5;        // Gilbert Model
    QWidget* TabSheet6;        // Output
    QGroupBox* GroupBox10;     // Decoder Settings
    QTabWidget* PageControl3;
    QWidget* TabSheet7;        // General
    QWidget* TabSheet8;        // Error Concealment
    QGroupBox* GroupBox11;     // decoder Input/Output
    QGroupBox* GroupBox12;     // H.264/AVC Stream Analyzer
    QGroupBox* GroupBox13;     // Output

    // Encoder
    QLineEdit* LabeledEdit1;   // input YUV file
    QLabel* LabeledEdit1Label;
    QPushButton* Button1;
    QLineEdit* LabeledEdit2;   // encoder output stream
    QLabel* LabeledEdit2Label;
    QPushButton* Button2;
    QLabel* Label1;            // "Encoding Mode:"
    QComboBox* ComboBox1;
    QLabel* Label2;            // "Target Video Size:"
    QLineEdit* Edit1;
    QLabel* Label3;            // "kbit/sec"
    QSlider* TrackBar1;
    QLabel* Label4;            // "0 (High Quality)"
    QLabel* Label5;            // "51 (Low Quality)"
    QLineEdit* Edit2;
    UpDown* UpDown1;
    QLineEdit* LabeledEdit5;   // input width
    QLabel* LabeledEdit5Label;
    QLineEdit* LabeledEdit7;   // input height
    QLabel* LabeledEdit7Label;
    QPushButton* Button3;      // Encode
    RadioGroup* RadioGroup1;   // motion search method
    QLabel* Label6;            // "Number of Reference Frames:"
    QLineEdit* Edit3;
    QLabel* Label7;            // "Motion Vector Search Range:"
    QLineEdit* Edit4;
    QCheckBox* CheckBox1;      // Chroma Motion Estimation
    QCheckBox* CheckBox2;      // i8x8
    QCheckBox* CheckBox3;      // i4x4
    QCheckBox* CheckBox4;      // p8x8
    QCheckBox* CheckBox5;      // p4x4
    QLabel* Label8;            // "Min GOP Size:"
    QLineEdit* Edit5;
    QLabel* Label9;            // "Max GOP Size:"
    QLineEdit* Edit6;
    QLabel* Label10;           // "Scene-cut Threshold:"
    QLineEdit* Edit7;
    QLabel* Label11;           // "%"
    QLabel* Label16;           // "Frame Rate:"
    QLineEdit* Edit13;
    QLabel* Label17;           // "Frames to ecnode:"
    QLineEdit* Edit14;
    QCheckBox* CheckBox7;      // Compute PSNR
    QRadioButton* RadioButton1;  // Fixed-length Slices
    QRadioButton* RadioButton2;  // Variable-length Slices
    QLabel* Label12;           // "Number of Slices:"
    QLineEdit* Edit8;
    QLabel* Label13;           // "Maximum Slice Size:"
    QLineEdit* Edit9;
    QLabel* Label14;           // "Bytes"
    QCheckBox* CheckBox6;      // Use FMO Type 1
    QLabel* Label15;           // "Number of Slice Groups:"
    QLineEdit* Edit10;

    // Channel
    QLabel* Label18;           // "Loss Rate:"
    QLineEdit* Edit11;
    QLabel* Label19;           // "%"
    QLabel* Label20;           // "Average Burst Error Length:"
    QLineEdit* Edit12;
    QPushButton* Button4;      // Apply
    QLineEdit* LabeledEdit6;   // channel output stream
    QLabel* LabeledEdit6Label;
    QPushButton* Button9;

    // Decoder
    QLineEdit* LabeledEdit3;   // decoder input stream
    QLabel* LabeledEdit3Label;
    QPushButton* Button5;
    QLineEdit* LabeledEdit4;   // decoder output YUV
    QLabel* LabeledEdit4Label;
    QPushButton* Button6;
    QPushButton* Button10;     // Decode
    QPushButton* Button8;      // Play YUV File
    RadioGroup* RadioGroup2;   // I-frame concealment
    RadioGroup* RadioGroup3;   // P-frame concealment

    // Analyzer
    QLabel* Label21;           // "Input File:"
    QComboBox* ComboBox2;
    QPushButton* Button7;      // Play
    QLabel* ISlicesCaption;
    QLabel* ISlicesValue;
    QLabel* PSlicesCaption;
    QLabel* PSlicesValue;
    QLabel* BSlicesCaption;
    QLabel* BSlicesValue;
    QLabel* SeisCaption;
    QLabel* SeisValue;
    QLabel* SpssCaption;
    QLabel* SpssValue;
    QLabel* PpssCaption;
    QLabel* PpssValue;
    QLabel* TotalNalUnitsCaption;
    QLabel* TotalNalUnitsValue;
    QLabel* CurrentNalCaption;
    QLabel* CurrentNalValue;
    QWidget* LegendArea;       // the colour legend is drawn here
    NalUnitMap* StringGrid1;

    // Output
    QPlainTextEdit* Memo1;     // the log
    QPlainTextEdit* Memo2;     // hidden loader, never shown
    QPushButton* BitBtn1;      // Clear

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<kestrune::LogSink> logSink_;
    std::shared_ptr<ResultsState> results_; // shared_ptr: deleted where its type is known

    void buildViewMenu();
    void buildMenus();
    void buildEncoderGroup();
    void buildChannelGroup();
    void buildDecoderGroup();
    void buildAnalyzerGroup();
    void buildOutputGroup();
    void connectHandlers();
};
