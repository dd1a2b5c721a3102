#pragma once
// The main window: every control under its designer name and the workbench
// state, held privately (TForm1Parts), and one public handler per control
// event. Handler bodies live in the *_handlers.cpp files by area; every signal
// reaches its handler through guard(), which shows run-time errors in the
// central error box.
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
namespace testing {
struct WindowParts;
}
} // namespace kestrune

// What the window owns besides its handlers: the workbench state, the
// prompts and every control under its designer name. TForm1 inherits it
// privately; tests reach it through kestrune::testing::WindowParts.
struct TForm1Parts {
    explicit TForm1Parts(kestrune::Prompts& prompts) : prompts(prompts) {}

    WorkbenchState state;        // the program-wide values the handlers share
    kestrune::Prompts& prompts;  // every message box and file dialog
    TForm2* Form2 = nullptr;     // About dialog
    TForm3* Form3 = nullptr;     // player dialog

    // Menus
    QMenu* File1;               // "File"
    QAction* Exit1;             // File > Exit: ends without the close-time cleanup
    QMenu* Options1;            // "Options"
    QAction* H264VideoPlayer1;  // Options > H.264 Video Player...
    QAction* YUVSequencePlayer1;  // Options > YUV Sequence Player...
    QMenu* View1;               // "View": results beyond the designed window
    QAction* QualityPlot1;      // View > Quality Plot...
    QAction* Experiment1;       // View > Experiment...
    QAction* FrameViewer1;      // View > Frame Viewer...
    QMenu* Help1;               // "Help"
    QAction* About2;            // Help > About
    QMenu* PopupMenu1;          // the NAL unit map's popup
    QAction* Properties1;       // popup: describe the selected NAL unit
    QAction* Delete1;           // popup: remove the selected NAL unit from the stream

    // Group boxes and pages
    QGroupBox* GroupBox1;      // Encoder Settings
    QTabWidget* PageControl1;  // the encoder's pages
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
    QTabWidget* PageControl2;  // the channel's pages
    QWidget* TabSheet5;        // Gilbert Model
    QWidget* TabSheet6;        // Output
    QGroupBox* GroupBox10;     // Decoder Settings
    QTabWidget* PageControl3;  // the decoder's pages
    QWidget* TabSheet7;        // General
    QWidget* TabSheet8;        // Error Concealment
    QGroupBox* GroupBox11;     // decoder Input/Output
    QGroupBox* GroupBox12;     // H.264/AVC Stream Analyzer
    QGroupBox* GroupBox13;     // Output

    // Encoder
    QLineEdit* LabeledEdit1;   // input YUV file
    QLabel* LabeledEdit1Label;  // "Input YUV File:"
    QPushButton* Button1;      // Browse... for the input YUV file
    QLineEdit* LabeledEdit2;   // encoder output stream (also the channel input)
    QLabel* LabeledEdit2Label;  // "Output File:"
    QPushButton* Button2;      // Browse... for the encoder output
    QLabel* Label1;            // "Encoding Mode:"
    QComboBox* ComboBox1;      // encoding mode: bitrate, quantizer or rate factor
    QLabel* Label2;            // "Target Video Size:"
    QLineEdit* Edit1;          // target bitrate
    QLabel* Label3;            // "kbit/sec"
    QSlider* TrackBar1;        // quantizer 0..51
    QLabel* Label4;            // "0 (High Quality)"
    QLabel* Label5;            // "51 (Low Quality)"
    QLineEdit* Edit2;          // quantizer as text, mirrors TrackBar1
    UpDown* UpDown1;           // spinner bound to Edit2
    QLineEdit* LabeledEdit5;   // input width
    QLabel* LabeledEdit5Label;  // "Input Width:"
    QLineEdit* LabeledEdit7;   // input height
    QLabel* LabeledEdit7Label;  // "Input Height:"
    QPushButton* Button3;      // Encode
    RadioGroup* RadioGroup1;   // motion search method
    QLabel* Label6;            // "Number of Reference Frames:"
    QLineEdit* Edit3;          // reference frames
    QLabel* Label7;            // "Motion Vector Search Range:"
    QLineEdit* Edit4;          // search range
    QCheckBox* CheckBox1;      // Chroma Motion Estimation
    QCheckBox* CheckBox2;      // i8x8
    QCheckBox* CheckBox3;      // i4x4
    QCheckBox* CheckBox4;      // p8x8
    QCheckBox* CheckBox5;      // p4x4
    QLabel* Label8;            // "Min GOP Size:"
    QLineEdit* Edit5;          // minimum GOP size
    QLabel* Label9;            // "Max GOP Size:"
    QLineEdit* Edit6;          // maximum GOP size
    QLabel* Label10;           // "Scene-cut Threshold:"
    QLineEdit* Edit7;          // scene-cut threshold
    QLabel* Label11;           // "%"
    QLabel* Label16;           // "Frame Rate:"
    QLineEdit* Edit13;         // frame rate
    QLabel* Label17;           // "Frames to ecnode:"
    QLineEdit* Edit14;         // frames to encode, or "All"
    QCheckBox* CheckBox7;      // Compute PSNR
    QRadioButton* RadioButton1;  // Fixed-length Slices
    QRadioButton* RadioButton2;  // Variable-length Slices
    QLabel* Label12;           // "Number of Slices:"
    QLineEdit* Edit8;          // slice count (fixed-length slices)
    QLabel* Label13;           // "Maximum Slice Size:"
    QLineEdit* Edit9;          // maximum slice size (variable-length slices)
    QLabel* Label14;           // "Bytes"
    QCheckBox* CheckBox6;      // Use FMO Type 1
    QLabel* Label15;           // "Number of Slice Groups:"
    QLineEdit* Edit10;         // slice groups

    // Channel
    QLabel* Label18;           // "Loss Rate:"
    QLineEdit* Edit11;         // loss rate in percent
    QLabel* Label19;           // "%"
    QLabel* Label20;           // "Average Burst Error Length:"
    QLineEdit* Edit12;         // average burst length
    QPushButton* Button4;      // Apply: the channel run
    QLineEdit* LabeledEdit6;   // channel output stream
    QLabel* LabeledEdit6Label;  // "Output File:"
    QPushButton* Button9;      // Browse... for the channel output

    // Decoder
    QLineEdit* LabeledEdit3;   // decoder input stream
    QLabel* LabeledEdit3Label;  // "Input H.264 File:"
    QPushButton* Button5;      // Browse... for the decoder input
    QLineEdit* LabeledEdit4;   // decoder output YUV
    QLabel* LabeledEdit4Label;  // "Output YUV File:"
    QPushButton* Button6;      // Browse... for the decoder output
    QPushButton* Button10;     // Decode
    QPushButton* Button8;      // Play YUV File
    RadioGroup* RadioGroup2;   // I-frame concealment
    RadioGroup* RadioGroup3;   // P-frame concealment

    // Analyzer
    QLabel* Label21;           // "Input File:"
    QComboBox* ComboBox2;      // source: Encoder Output or Channel Output
    QPushButton* Button7;      // Play the chosen source
    QLabel* ISlicesCaption;    // "Number of I-slices:"
    QLabel* ISlicesValue;      // its count, "-" until the first analysis
    QLabel* PSlicesCaption;    // "Number of P-slices:"
    QLabel* PSlicesValue;      // its count, "-" until the first analysis
    QLabel* BSlicesCaption;    // "Number of B-slices:"
    QLabel* BSlicesValue;      // its count, "-" until the first analysis
    QLabel* SeisCaption;       // "Number of SEIs:"
    QLabel* SeisValue;         // its count, "-" until the first analysis
    QLabel* SpssCaption;       // "Number of SPSs:"
    QLabel* SpssValue;         // its count, "-" until the first analysis
    QLabel* PpssCaption;       // "Number of PPSs:"
    QLabel* PpssValue;         // its count, "-" until the first analysis
    QLabel* TotalNalUnitsCaption;  // "Total Number of NAL units:"
    QLabel* TotalNalUnitsValue;  // its count, "-" until the first analysis
    QLabel* CurrentNalCaption;  // "Current NAL#:"
    QLabel* CurrentNalValue;   // number of the selected NAL unit
    QWidget* LegendArea;       // the colour legend is drawn here
    NalUnitMap* StringGrid1;   // the NAL unit map, one coloured cell per NAL unit

    // Output
    QPlainTextEdit* Memo1;     // the log
    QPlainTextEdit* Memo2;     // the designed hidden loader memo: never shown, holds nothing
    QPushButton* BitBtn1;      // Clear the log
};

class TForm1 : public QMainWindow, private TForm1Parts {
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
    void FormCreate();      // records the start directory, loads players.cnf
    void FormClose();       // deletes the scratch files
    void Exit1Click();      // File > Exit: ends the event loop without FormClose
    void About2Click();     // Help > About: shows the About dialog
    void BitBtn1Click();    // Clear: empties the log
    void XbatchRun();       // runs xbatch.bat (the encoder) and logs xbatch.txt
    void FbatchRun();       // runs fbatch.bat (the decoder), logs fbatch.txt, moves the output
    void GilbertRun();      // runs gil.bat (the loss pattern), then AnalyzeRun

    // --- encoder panel (encoder_handlers.cpp)
    void ComboBox1Change();     // encoding mode: rate-control mode and which fields are on
    void TrackBar1Change();     // quantizer track bar: into Edit2 and the spinner
    void UpDown1Changing();     // quantizer spinner: moves the track bar
    void Edit2Change();         // quantizer edit: moves the track bar
    void RadioButton1Enter();   // fixed-length slices: Edit8 on, Edit9 off
    void RadioButton2Enter();   // variable-length slices: Edit9 on, Edit8 off
    void CheckBox6Click();      // Use FMO: slice group field on or off
    void Edit5Change();         // minimum GOP size: warns below 1
    void Edit10Change();        // slice groups: warns below 2
    void Button1Click();        // Browse... for the input YUV file
    void Button2Click();        // Browse... for the encoder output
    void Button3Click();        // Encode

    // --- stream analyzer (analyzer_handlers.cpp)
    void AnalyzeRun();          // runs analyze.bat, then the analysis mode's step
    void ComboBox2Change();     // source chosen: analyze it and fill the map
    void StreamAnalyze();       // general.txt into the counters and the map
    void StringGrid1SelectCell(int column, int row);  // map cell selected: Current NAL#
    void Properties1Click();    // popup Properties: the selected NAL unit's description
    void Delete1Click();        // popup Delete: removes the selected NAL unit

    // --- channel (channel_handlers.cpp)
    void Button4Click();        // Apply: the channel run
    void Button9Click();        // Browse... for the channel output
    // Runs the analyzer over the stream in the ReadTotal analysis mode, which
    // leaves the stream's NAL unit total in state.nalUnitCount (0 on failure).
    void countNalUnits(const QString& stream);

    // --- decoder (decoder_handlers.cpp)
    void Button5Click();        // Browse... for the decoder input
    void Button6Click();        // Browse... for the decoder output
    void Button10Click();       // Decode
    void moveDecodedOutput();   // FbatchRun's extra step

    // --- playback (player_handlers.cpp)
    void H264VideoPlayer1Click();    // Options > H.264 Video Player...: the dialog in that role
    void YUVSequencePlayer1Click();  // Options > YUV Sequence Player...: the dialog in that role
    void Button7Click();        // Play the analyzer's source in the H.264 player
    void Button8Click();        // Play YUV File: the decoder output in the YUV player
    void Play(const QString& program, const QString& file);  // starts a player and waits
    // The player dialog's OK: store the path of its role and save both.
    void storePlayerPath(kestrune::PlayerRole role, const QString& path);

    // --- results: quality after Decode, plot, experiments (results_handlers.cpp)
    void QualityPlot1Click();   // View > Quality Plot...: the plot of the last decodes
    void Experiment1Click();    // View > Experiment...: repeated channel runs
    void FrameViewer1Click();   // View > Frame Viewer...: the last decode, frame by frame
    void openFrameViewer(int decode, int frame);  // a decode of the plot's history at a frame
    void reportDecodeQuality(const QString& output);  // after a decode placed its output
    void noteChannelRun(const QString& output, const QString& lossRate);  // after Apply wrote its output

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend struct kestrune::testing::WindowParts;

    std::unique_ptr<kestrune::LogSink> logSink_;
    std::shared_ptr<ResultsState> results_;  // shared_ptr: deleted where its type is known

    void buildMenus();
    void buildViewMenu();
    void buildEncoderGroup();
    void buildChannelGroup();
    void buildDecoderGroup();
    void buildAnalyzerGroup();
    void buildOutputGroup();
    void connectHandlers();
};
