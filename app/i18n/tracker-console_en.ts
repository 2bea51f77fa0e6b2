<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_GB" sourcelanguage="zh_CN">
<context>
    <name>texts</name>
    <message>
        <source>瓦伦托配置工具V1.9</source>
        <comment>kAppTitle</comment>
        <translation>Tracker Console V1.9</translation>
    </message>
    <message>
        <source>关于瓦伦托配置工具</source>
        <comment>kAboutTitle</comment>
        <translation>About Tracker Console</translation>
    </message>
    <message>
        <source>瓦伦托配置工具 V1.9_180421 版</source>
        <comment>kAboutText</comment>
        <translation>Tracker Console V1.9_180421</translation>
    </message>
    <message>
        <source>关于VARENTO(&amp;A)...</source>
        <comment>kAboutMenuItem</comment>
        <translation>&amp;About Tracker Console...</translation>
    </message>
    <message>
        <source>确定</source>
        <comment>kOk</comment>
        <translation>OK</translation>
    </message>
    <message>
        <source>服务器地址: IPv4 地址, 如 192.168.1.10; 勾选“域名”时填域名, 如 gps.example.com</source>
        <comment>kTipServerAddr</comment>
        <translation>Server address: an IPv4 address such as 192.168.1.10; with "Domain" ticked, a domain name such as gps.example.com</translation>
    </message>
    <message>
        <source>服务器端口: 1 到 65535 的整数</source>
        <comment>kTipServerPort</comment>
        <translation>Server port: a whole number from 1 to 65535</translation>
    </message>
    <message>
        <source>IMEI: 15 位数字; 在此框按回车即设置</source>
        <comment>kTipImei</comment>
        <translation>IMEI: 15 digits; Enter in this box sets it</translation>
    </message>
    <message>
        <source>电话号码: 数字, 可以 + 开头, 如 13800138000; 留空即清除</source>
        <comment>kTipPhone</comment>
        <translation>Phone number: digits, may start with +, e.g. 13800138000; empty clears it</translation>
    </message>
    <message>
        <source>设备语言: 1 = 中文, 0 = 英文</source>
        <comment>kTipLanguage</comment>
        <translation>Device language: 1 = Chinese, 0 = English</translation>
    </message>
    <message>
        <source>时区: 相对 UTC 的小时数, 如 8 表示 UTC+8</source>
        <comment>kTipZone</comment>
        <translation>Time zone: hours from UTC, e.g. 8 for UTC+8</translation>
    </message>
    <message>
        <source>上报间隔: 单位秒, 如 60</source>
        <comment>kTipUpload</comment>
        <translation>Upload interval in seconds, e.g. 60</translation>
    </message>
    <message>
        <source>发给设备的指令文本, 如 FACTORY; 发送时加上 AT: 前缀</source>
        <comment>kTipSendText</comment>
        <translation>Command text for the device, e.g. FACTORY; sent with the prefix AT:</translation>
    </message>
    <message>
        <source>勾选: 地址为域名; 不勾选: 地址为 IP</source>
        <comment>kTipDomain</comment>
        <translation>Ticked: the address is a domain name; not ticked: an IP address</translation>
    </message>
    <message>
        <source>勾选即开始生产测试 (GSM, GPS, 按键); 勾选时每次连接设备都会测试</source>
        <comment>kTipStartTest</comment>
        <translation>Tick to start the factory test (GSM, GPS, key); while ticked, every connection runs it</translation>
    </message>
    <message>
        <source>设备固件版本, 只读</source>
        <comment>kTipVersion</comment>
        <translation>Firmware version of the device, read-only</translation>
    </message>
    <message>
        <source>设备上报的数值, 只读</source>
        <comment>kTipDeviceCount</comment>
        <translation>As reported by the device, read-only</translation>
    </message>
    <message>
        <source>度, 小数点后 6 位</source>
        <comment>kTipDegrees</comment>
        <translation>Degrees, 6 decimal places</translation>
    </message>
    <message>
        <source>UTC 时间, 时:分:秒</source>
        <comment>kTipGpsTime</comment>
        <translation>UTC time, hours:minutes:seconds</translation>
    </message>
    <message>
        <source>海拔, 单位米</source>
        <comment>kTipAltitude</comment>
        <translation>Altitude in metres</translation>
    </message>
    <message>
        <source>卫星信噪比, 单位 dB-Hz</source>
        <comment>kTipSnr</comment>
        <translation>Signal-to-noise ratio in dB-Hz</translation>
    </message>
    <message>
        <source>精度因子, 无单位, 越小越好</source>
        <comment>kTipDop</comment>
        <translation>Dilution of precision, no unit; smaller is better</translation>
    </message>
    <message>
        <source>UTC 日期</source>
        <comment>kTipGpsDate</comment>
        <translation>UTC date</translation>
    </message>
    <message>
        <source>从设备读取本行参数</source>
        <comment>kTipRead</comment>
        <translation>Read this row from the device</translation>
    </message>
    <message>
        <source>把本行参数写入设备</source>
        <comment>kTipSet</comment>
        <translation>Write this row to the device</translation>
    </message>
    <message>
        <source>界面语言</source>
        <comment>kMenuLanguage</comment>
        <translation>Interface language</translation>
    </message>
    <message>
        <source>中文</source>
        <comment>kLanguageChinese</comment>
        <translation>中文</translation>
    </message>
    <message>
        <source>English</source>
        <comment>kLanguageEnglish</comment>
        <translation>English</translation>
    </message>
    <message>
        <source>确认退出</source>
        <comment>kConfirmExitCaption</comment>
        <translation>Exit</translation>
    </message>
    <message>
        <source>正在进行的工作 (如保存日志到文件) 将被中断。确定要退出吗?</source>
        <comment>kConfirmExitBusy</comment>
        <translation>Work in progress (such as saving the log to a file) will be interrupted. Exit anyway?</translation>
    </message>
    <message>
        <source>状态</source>
        <comment>kGroupStatus</comment>
        <translation>Status</translation>
    </message>
    <message>
        <source>参数配置</source>
        <comment>kGroupParams</comment>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>生产测试</source>
        <comment>kGroupTest</comment>
        <translation>Factory test</translation>
    </message>
    <message>
        <source>GPS信息</source>
        <comment>kGroupGps</comment>
        <translation>GPS</translation>
    </message>
    <message>
        <source>调试信息</source>
        <comment>kGroupDebug</comment>
        <translation>Debug log</translation>
    </message>
    <message>
        <source>当前串口:</source>
        <comment>kLabelPortName</comment>
        <translation>Port:</translation>
    </message>
    <message>
        <source>串口状态:</source>
        <comment>kLabelPortState</comment>
        <translation>Port state:</translation>
    </message>
    <message>
        <source>通信状态:</source>
        <comment>kLabelLinkState</comment>
        <translation>Link:</translation>
    </message>
    <message>
        <source>GSM信号:</source>
        <comment>kLabelGsmSignal</comment>
        <translation>GSM signal:</translation>
    </message>
    <message>
        <source>GPS个数:</source>
        <comment>kLabelGpsCount</comment>
        <translation>GPS count:</translation>
    </message>
    <message>
        <source>AGPS个数:</source>
        <comment>kLabelAgpsCount</comment>
        <translation>AGPS count:</translation>
    </message>
    <message>
        <source>SIM卡:</source>
        <comment>kLabelSim</comment>
        <translation>SIM card:</translation>
    </message>
    <message>
        <source>退出</source>
        <comment>kButtonExit</comment>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>关于</source>
        <comment>kButtonAbout</comment>
        <translation>&amp;About</translation>
    </message>
    <message>
        <source>版本号:</source>
        <comment>kLabelVersion</comment>
        <translation>Version:</translation>
    </message>
    <message>
        <source>读取</source>
        <comment>kButtonRead</comment>
        <translation>Read</translation>
    </message>
    <message>
        <source>设置</source>
        <comment>kButtonSet</comment>
        <translation>Set</translation>
    </message>
    <message>
        <source>域名</source>
        <comment>kCheckDomain</comment>
        <translation>&amp;Domain</translation>
    </message>
    <message>
        <source>PORT:</source>
        <comment>kLabelPort</comment>
        <translation>PORT:</translation>
    </message>
    <message>
        <source>IMEI号:</source>
        <comment>kLabelImei</comment>
        <translation>IMEI:</translation>
    </message>
    <message>
        <source>中心号码:</source>
        <comment>kLabelCenterNumber</comment>
        <translation>Centre no.:</translation>
    </message>
    <message>
        <source>辅助号码:</source>
        <comment>kLabelSlaveNumber</comment>
        <translation>Aux. no.:</translation>
    </message>
    <message>
        <source>语言:</source>
        <comment>kLabelLanguage</comment>
        <translation>Language:</translation>
    </message>
    <message>
        <source>[注:1-中文;0-英文]</source>
        <comment>kLanguageHint</comment>
        <translation>[1: CN, 0: EN]</translation>
    </message>
    <message>
        <source>时区:</source>
        <comment>kLabelZone</comment>
        <translation>Zone:</translation>
    </message>
    <message>
        <source>SOS1:</source>
        <comment>kLabelSos1</comment>
        <translation>SOS1:</translation>
    </message>
    <message>
        <source>SOS2:</source>
        <comment>kLabelSos2</comment>
        <translation>SOS2:</translation>
    </message>
    <message>
        <source>SOS3:</source>
        <comment>kLabelSos3</comment>
        <translation>SOS3:</translation>
    </message>
    <message>
        <source>监听号码:</source>
        <comment>kLabelMonitor</comment>
        <translation>Monitor no.:</translation>
    </message>
    <message>
        <source>上报间隔:</source>
        <comment>kLabelUpload</comment>
        <translation>Interval:</translation>
    </message>
    <message>
        <source>手动指令:

FACTORY  恢复出厂设置

POWEROFF  关机</source>
        <comment>kCommandHint</comment>
        <translation>Commands:

FACTORY  factory reset

POWEROFF  power off</translation>
    </message>
    <message>
        <source>指令发送:</source>
        <comment>kLabelSendCommand</comment>
        <translation>Command:</translation>
    </message>
    <message>
        <source>发送</source>
        <comment>kButtonSend</comment>
        <translation>Se&amp;nd</translation>
    </message>
    <message>
        <source>清空</source>
        <comment>kButtonClear</comment>
        <translation>&amp;Clear</translation>
    </message>
    <message>
        <source>开启测试</source>
        <comment>kCheckStartTest</comment>
        <translation>Start &amp;test</translation>
    </message>
    <message>
        <source>1.GSM</source>
        <comment>kTestGsm</comment>
        <translation>1.GSM</translation>
    </message>
    <message>
        <source>2.GPS</source>
        <comment>kTestGps</comment>
        <translation>2.GPS</translation>
    </message>
    <message>
        <source>3.按键</source>
        <comment>kTestKey</comment>
        <translation>3.Key</translation>
    </message>
    <message>
        <source>测试结果:</source>
        <comment>kLabelTestResult</comment>
        <translation>Test result:</translation>
    </message>
    <message>
        <source>经度:</source>
        <comment>kLabelLongitude</comment>
        <translation>Longitude:</translation>
    </message>
    <message>
        <source>纬度:</source>
        <comment>kLabelLatitude</comment>
        <translation>Latitude:</translation>
    </message>
    <message>
        <source>时间:</source>
        <comment>kLabelGpsTime</comment>
        <translation>Time:</translation>
    </message>
    <message>
        <source>卫星数:</source>
        <comment>kLabelSatsUsed</comment>
        <translation>Satellites:</translation>
    </message>
    <message>
        <source>定位状态:</source>
        <comment>kLabelFixState</comment>
        <translation>Fix state:</translation>
    </message>
    <message>
        <source>海拔:</source>
        <comment>kLabelAltitude</comment>
        <translation>Altitude:</translation>
    </message>
    <message>
        <source>定位类型:</source>
        <comment>kLabelFixType</comment>
        <translation>Fix type:</translation>
    </message>
    <message>
        <source>GPS数据更新状态</source>
        <comment>kGpsIndicator</comment>
        <translation>GPS data update</translation>
    </message>
    <message>
        <source>GPS信号强度:</source>
        <comment>kLabelSignal</comment>
        <translation>GPS signal:</translation>
    </message>
    <message>
        <source>HDOP:</source>
        <comment>kLabelHdop</comment>
        <translation>HDOP:</translation>
    </message>
    <message>
        <source>VDOP:</source>
        <comment>kLabelVdop</comment>
        <translation>VDOP:</translation>
    </message>
    <message>
        <source>PDOP:</source>
        <comment>kLabelPdop</comment>
        <translation>PDOP:</translation>
    </message>
    <message>
        <source>日期:</source>
        <comment>kLabelGpsDate</comment>
        <translation>Date:</translation>
    </message>
    <message>
        <source>速度(km/h):</source>
        <comment>kLabelSpeed</comment>
        <translation>Speed (km/h):</translation>
    </message>
    <message>
        <source>航向(°):</source>
        <comment>kLabelCourse</comment>
        <translation>Course (°):</translation>
    </message>
    <message>
        <source>首次定位(秒):</source>
        <comment>kLabelTtff</comment>
        <translation>First fix (s):</translation>
    </message>
    <message>
        <source>卫星视图</source>
        <comment>kButtonSatelliteView</comment>
        <translation>Satellite &amp;view</translation>
    </message>
    <message>
        <source>天空图</source>
        <comment>kSkyPlot</comment>
        <translation>Sky plot</translation>
    </message>
    <message>
        <source>可见卫星</source>
        <comment>kSatelliteTable</comment>
        <translation>Satellites in view</translation>
    </message>
    <message>
        <source>系统</source>
        <comment>kColumnSystem</comment>
        <translation>System</translation>
    </message>
    <message>
        <source>编号</source>
        <comment>kColumnNumber</comment>
        <translation>Number</translation>
    </message>
    <message>
        <source>仰角</source>
        <comment>kColumnElevation</comment>
        <translation>Elevation</translation>
    </message>
    <message>
        <source>方位角</source>
        <comment>kColumnAzimuth</comment>
        <translation>Azimuth</translation>
    </message>
    <message>
        <source>信号</source>
        <comment>kColumnSignal</comment>
        <translation>Signal</translation>
    </message>
    <message>
        <source>使用</source>
        <comment>kColumnUsed</comment>
        <translation>Used</translation>
    </message>
    <message>
        <source>是</source>
        <comment>kUsedYes</comment>
        <translation>Yes</translation>
    </message>
    <message>
        <source>可见 %1 颗, 使用 %2 颗</source>
        <comment>kSkySummary</comment>
        <translation>%1 in view, %2 used</translation>
    </message>
    <message>
        <source>北斗</source>
        <comment>kSystemBeidou</comment>
        <translation>BeiDou</translation>
    </message>
    <message>
        <source>清空显示</source>
        <comment>kButtonClearDisplay</comment>
        <translation>C&amp;lear display</translation>
    </message>
    <message>
        <source>显示NMEA</source>
        <comment>kLogShowNmea</comment>
        <translation>Show NMEA</translation>
    </message>
    <message>
        <source>日期和毫秒</source>
        <comment>kLogDateAndMs</comment>
        <translation>Date and ms</translation>
    </message>
    <message>
        <source>附加内容也存入文件</source>
        <comment>kLogExtrasInFile</comment>
        <translation>Extras in the file too</translation>
    </message>
    <message>
        <source>十六进制</source>
        <comment>kLogHexView</comment>
        <translation>Hex</translation>
    </message>
    <message>
        <source>查找:</source>
        <comment>kLogFindLabel</comment>
        <translation>Find:</translation>
    </message>
    <message>
        <source>上一个</source>
        <comment>kLogFindPrevious</comment>
        <translation>Previous</translation>
    </message>
    <message>
        <source>下一个</source>
        <comment>kLogFindNext</comment>
        <translation>Next</translation>
    </message>
    <message>
        <source>找不到</source>
        <comment>kLogNotFound</comment>
        <translation>Not found</translation>
    </message>
    <message>
        <source>暂停显示</source>
        <comment>kPauseDisplay</comment>
        <translation>&amp;Pause display</translation>
    </message>
    <message>
        <source>开始显示</source>
        <comment>kStartDisplay</comment>
        <translation>Resume dis&amp;play</translation>
    </message>
    <message>
        <source>保存到文件</source>
        <comment>kSaveToFile</comment>
        <translation>Save to &amp;file</translation>
    </message>
    <message>
        <source>停止保存</source>
        <comment>kStopSaving</comment>
        <translation>Stop saving</translation>
    </message>
    <message>
        <source>IP:</source>
        <comment>kAddrLabelIp</comment>
        <translation>IP:</translation>
    </message>
    <message>
        <source>URL:</source>
        <comment>kAddrLabelUrl</comment>
        <translation>URL:</translation>
    </message>
    <message>
        <source>关闭</source>
        <comment>kPortClosed</comment>
        <translation>Closed</translation>
    </message>
    <message>
        <source>打开</source>
        <comment>kPortOpen</comment>
        <translation>Open</translation>
    </message>
    <message>
        <source>无</source>
        <comment>kPortNone</comment>
        <translation>None</translation>
    </message>
    <message>
        <source>已连接</source>
        <comment>kLinkConnected</comment>
        <translation>Connected</translation>
    </message>
    <message>
        <source>正在连接..</source>
        <comment>kLinkConnecting</comment>
        <translation>Connecting..</translation>
    </message>
    <message>
        <source>正在测试..</source>
        <comment>kTesting</comment>
        <translation>Testing..</translation>
    </message>
    <message>
        <source>未连接到设备</source>
        <comment>kNotConnected</comment>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>PASS!</source>
        <comment>kPass</comment>
        <translation>PASS!</translation>
    </message>
    <message>
        <source>存在</source>
        <comment>kSimPresent</comment>
        <translation>Present</translation>
    </message>
    <message>
        <source>不存在</source>
        <comment>kSimAbsent</comment>
        <translation>Absent</translation>
    </message>
    <message>
        <source>未定位</source>
        <comment>kNoFix</comment>
        <translation>No fix</translation>
    </message>
    <message>
        <source>非差分定位</source>
        <comment>kFixNonDifferential</comment>
        <translation>Non-differential fix</translation>
    </message>
    <message>
        <source>差分定位</source>
        <comment>kFixDifferential</comment>
        <translation>Differential fix</translation>
    </message>
    <message>
        <source>无效</source>
        <comment>kFixInvalid</comment>
        <translation>Invalid</translation>
    </message>
    <message>
        <source>定位</source>
        <comment>kFixed</comment>
        <translation>Fixed</translation>
    </message>
    <message>
        <source>尚未连接到设备,请重新插拔USB!</source>
        <comment>kMsgNotConnected</comment>
        <translation>Not connected to a device yet; please unplug and replug the USB cable!</translation>
    </message>
    <message>
        <source>IP或域名,端口为空!</source>
        <comment>kMsgAddrEmpty</comment>
        <translation>IP or domain, or port, is empty!</translation>
    </message>
    <message>
        <source>imei为空!</source>
        <comment>kMsgImeiEmpty</comment>
        <translation>IMEI is empty!</translation>
    </message>
    <message>
        <source>imei号长度错误!</source>
        <comment>kMsgImeiLength</comment>
        <translation>Wrong IMEI length!</translation>
    </message>
    <message>
        <source>发送内容为空!</source>
        <comment>kMsgSendEmpty</comment>
        <translation>Nothing to send!</translation>
    </message>
    <message>
        <source>IP或域名,端口设置成功!</source>
        <comment>kNoticeAddrSet</comment>
        <translation>IP or domain and port set successfully!</translation>
    </message>
    <message>
        <source>域名和端口读取成功!</source>
        <comment>kNoticeDomainRead</comment>
        <translation>Domain and port read successfully!</translation>
    </message>
    <message>
        <source>ip和端口读取成功!</source>
        <comment>kNoticeIpRead</comment>
        <translation>IP and port read successfully!</translation>
    </message>
    <message>
        <source>imei设置成功!</source>
        <comment>kNoticeImeiSet</comment>
        <translation>IMEI set successfully!</translation>
    </message>
    <message>
        <source>imei读取成功!</source>
        <comment>kNoticeImeiRead</comment>
        <translation>IMEI read successfully!</translation>
    </message>
    <message>
        <source>版本号读取成功!</source>
        <comment>kNoticeVersionRead</comment>
        <translation>Version read successfully!</translation>
    </message>
    <message>
        <source>中心号码和辅助中心号码设置成功!</source>
        <comment>kNoticeNumbersSet</comment>
        <translation>Centre and auxiliary numbers set successfully!</translation>
    </message>
    <message>
        <source>中心号码和辅助中心号码读取成功!</source>
        <comment>kNoticeNumbersRead</comment>
        <translation>Centre and auxiliary numbers read successfully!</translation>
    </message>
    <message>
        <source>语言和时区设置成功!</source>
        <comment>kNoticeLanguageSet</comment>
        <translation>Language and time zone set successfully!</translation>
    </message>
    <message>
        <source>语言和时区读取成功!</source>
        <comment>kNoticeLanguageRead</comment>
        <translation>Language and time zone read successfully!</translation>
    </message>
    <message>
        <source>监听号码设置成功!</source>
        <comment>kNoticeMonitorSet</comment>
        <translation>Monitor number set successfully!</translation>
    </message>
    <message>
        <source>监听号码读取成功!</source>
        <comment>kNoticeMonitorRead</comment>
        <translation>Monitor number read successfully!</translation>
    </message>
    <message>
        <source>上报时间间隔设置成功!</source>
        <comment>kNoticeUploadSet</comment>
        <translation>Upload interval set successfully!</translation>
    </message>
    <message>
        <source>上报时间间隔读取成功!</source>
        <comment>kNoticeUploadRead</comment>
        <translation>Upload interval read successfully!</translation>
    </message>
    <message>
        <source>SOS设置成功!</source>
        <comment>kNoticeSosSet</comment>
        <translation>SOS set successfully!</translation>
    </message>
    <message>
        <source>SOS读取成功!</source>
        <comment>kNoticeSosRead</comment>
        <translation>SOS read successfully!</translation>
    </message>
    <message>
        <source>Application Error</source>
        <comment>kPortErrorCaption</comment>
        <translation>Application Error</translation>
    </message>
    <message>
        <source>Can't register device notification: </source>
        <comment>kRegisterNoticeFailed</comment>
        <translation>Can't register device notification: </translation>
    </message>
    <message>
        <source>串口被其他程序占用: </source>
        <comment>kPortBusyBy</comment>
        <translation>The port is in use by another program: </translation>
    </message>
    <message>
        <source>串口被其他程序占用</source>
        <comment>kPortBusy</comment>
        <translation>The port is in use by another program</translation>
    </message>
    <message>
        <source>无权限打开串口, 请将用户加入 dialout 组后重新登录</source>
        <comment>kPortNotPermitted</comment>
        <translation>No permission to open the port; add the user to the dialout group and log in again</translation>
    </message>
    <message>
        <source>无法打开串口: </source>
        <comment>kPortOpenFailed</comment>
        <translation>Cannot open the port: </translation>
    </message>
    <message>
        <source> (ModemManager 可能正在探测该串口)</source>
        <comment>kModemManagerHint</comment>
        <translation> (ModemManager may be probing this port)</translation>
    </message>
    <message>
        <source>无法保存到文件: </source>
        <comment>kLogFileFailed</comment>
        <translation>Cannot save to the file: </translation>
    </message>
    <message>
        <source>写入日志文件失败, 已停止保存: </source>
        <comment>kLogFileWriteFailed</comment>
        <translation>Writing the log file failed; saving stopped: </translation>
    </message>
    <message>
        <source>Txt Files (*.txt)</source>
        <comment>kTxtFilter</comment>
        <translation>Txt Files (*.txt)</translation>
    </message>
    <message>
        <source>FAIL</source>
        <comment>kFail</comment>
        <translation>FAIL</translation>
    </message>
    <message>
        <source>生产工位</source>
        <comment>kStationGroup</comment>
        <translation>Production station</translation>
    </message>
    <message>
        <source>工位模式</source>
        <comment>kStationMode</comment>
        <translation>Station mode</translation>
    </message>
    <message>
        <source>工位配置:</source>
        <comment>kStationProfile</comment>
        <translation>Station profile:</translation>
    </message>
    <message>
        <source>(无, 只测试不设置)</source>
        <comment>kStationNoProfile</comment>
        <translation>(none: test only, set nothing)</translation>
    </message>
    <message>
        <source>选择...</source>
        <comment>kStationPickProfile</comment>
        <translation>Choose...</translation>
    </message>
    <message>
        <source>保存参数为配置...</source>
        <comment>kStationSaveProfile</comment>
        <translation>Save fields as profile...</translation>
    </message>
    <message>
        <source>载入配置到参数...</source>
        <comment>kStationLoadProfile</comment>
        <translation>Load profile into fields...</translation>
    </message>
    <message>
        <source>工位:</source>
        <comment>kStationName</comment>
        <translation>Station:</translation>
    </message>
    <message>
        <source>操作员:</source>
        <comment>kStationOperator</comment>
        <translation>Operator:</translation>
    </message>
    <message>
        <source>记录...</source>
        <comment>kStationRecords</comment>
        <translation>Records...</translation>
    </message>
    <message>
        <source>请插入设备</source>
        <comment>kStationWaiting</comment>
        <translation>Plug in a unit</translation>
    </message>
    <message>
        <source>测试中..</source>
        <comment>kStationTesting</comment>
        <translation>Testing..</translation>
    </message>
    <message>
        <source>请拔出设备, 然后插入下一台</source>
        <comment>kStationUnplugNext</comment>
        <translation>Unplug the unit, then plug in the next one</translation>
    </message>
    <message>
        <source>进度</source>
        <comment>kStationProgress</comment>
        <translation>Progress</translation>
    </message>
    <message>
        <source>结论</source>
        <comment>kStationVerdict</comment>
        <translation>Verdict</translation>
    </message>
    <message>
        <source>工位配置 (*.profile);;所有文件 (*)</source>
        <comment>kStationProfileFilter</comment>
        <translation>Station profiles (*.profile);;All files (*)</translation>
    </message>
    <message>
        <source>配置文件被拒绝: </source>
        <comment>kStationProfileRefused</comment>
        <translation>Profile refused: </translation>
    </message>
    <message>
        <source>配置文件无法保存: </source>
        <comment>kStationProfileNotSaved</comment>
        <translation>Profile could not be saved: </translation>
    </message>
    <message>
        <source>无法打开记录库: </source>
        <comment>kStationStoreFailed</comment>
        <translation>Cannot open the records: </translation>
    </message>
    <message>
        <source>记录未能保存: </source>
        <comment>kStationRecordFailed</comment>
        <translation>Record not saved: </translation>
    </message>
    <message>
        <source>测试记录</source>
        <comment>kRecordsTitle</comment>
        <translation>Test records</translation>
    </message>
    <message>
        <source>今日: </source>
        <comment>kRecordsToday</comment>
        <translation>Today: </translation>
    </message>
    <message>
        <source>IMEI:</source>
        <comment>kRecordsImei</comment>
        <translation>IMEI:</translation>
    </message>
    <message>
        <source>结论:</source>
        <comment>kRecordsVerdict</comment>
        <translation>Verdict:</translation>
    </message>
    <message>
        <source>全部</source>
        <comment>kRecordsAll</comment>
        <translation>All</translation>
    </message>
    <message>
        <source>从:</source>
        <comment>kRecordsFrom</comment>
        <translation>From:</translation>
    </message>
    <message>
        <source>到:</source>
        <comment>kRecordsTo</comment>
        <translation>To:</translation>
    </message>
    <message>
        <source>刷新</source>
        <comment>kRecordsRefresh</comment>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>导出CSV...</source>
        <comment>kRecordsExport</comment>
        <translation>Export CSV...</translation>
    </message>
    <message>
        <source>供Excel打开 (UTF-8 BOM)</source>
        <comment>kRecordsExcelMark</comment>
        <translation>For Excel (UTF-8 BOM)</translation>
    </message>
    <message>
        <source>已导出记录: </source>
        <comment>kRecordsExported</comment>
        <translation>Records exported: </translation>
    </message>
    <message>
        <source>导出失败: </source>
        <comment>kRecordsExportFailed</comment>
        <translation>Export failed: </translation>
    </message>
    <message>
        <source>CSV (*.csv)</source>
        <comment>kRecordsCsvFilter</comment>
        <translation>CSV (*.csv)</translation>
    </message>
    <message>
        <source>开始 (UTC)|IMEI|固件|结论|原因|工位|操作员|端口</source>
        <comment>kRecordsColumns</comment>
        <translation>Started (UTC)|IMEI|Firmware|Verdict|Reasons|Station|Operator|Port</translation>
    </message>
    <message>
        <source>测试超时(秒):</source>
        <comment>kStationTestTimeout</comment>
        <translation>Test time-out (s):</translation>
    </message>
    <message>
        <source>GPS判定</source>
        <comment>kStationGpsCheck</comment>
        <translation>GPS criteria</translation>
    </message>
    <message>
        <source>定位时限(秒):</source>
        <comment>kStationGpsWithin</comment>
        <translation>Fix within (s):</translation>
    </message>
    <message>
        <source>使用卫星≥</source>
        <comment>kStationGpsUsed</comment>
        <translation>Satellites used ≥</translation>
    </message>
    <message>
        <source>强信号卫星≥</source>
        <comment>kStationGpsStrong</comment>
        <translation>Strong satellites ≥</translation>
    </message>
    <message>
        <source>信号≥(dB-Hz)</source>
        <comment>kStationGpsDbHz</comment>
        <translation>Signal ≥ (dB-Hz)</translation>
    </message>
    <message>
        <source>, 每秒重试一次, 剩余秒数: </source>
        <comment>kPortRetrying</comment>
        <translation>, retrying every second, seconds left: </translation>
    </message>
    <message>
        <source>, 已停止重试, 请重新插拔设备</source>
        <comment>kPortRetryGaveUp</comment>
        <translation>, stopped retrying: unplug the tracker and plug it in again</translation>
    </message>
    <message>
        <source>等待设备应答</source>
        <comment>kWaitingForDevice</comment>
        <translation>waiting for the device</translation>
    </message>
    <message>
        <source>串口锁文件异常, 未打开串口: </source>
        <comment>kPortLockUnsafe</comment>
        <translation>Port lock file is not a lock file, port not opened: </translation>
    </message>
    <message>
        <source>串口同时被其他程序打开: </source>
        <comment>kPortAlsoHeldBy</comment>
        <translation>Port also opened by another program: </translation>
    </message>
    <message>
        <source>虚拟串口目录不安全, 已忽略: </source>
        <comment>kPortsFolderRefused</comment>
        <translation>Virtual ports folder is not private, ignored: </translation>
    </message>
    <message>
        <source>所选串口未接入: </source>
        <comment>kPinnedPortAbsent</comment>
        <translation>Chosen port not plugged in: </translation>
    </message>
    <message>
        <source>选择串口:</source>
        <comment>kLabelPortChoice</comment>
        <translation>Port:</translation>
    </message>
    <message>
        <source>自动</source>
        <comment>kPortChoiceAutomatic</comment>
        <translation>Automatic</translation>
    </message>
    <message>
        <source> (未接入)</source>
        <comment>kPortChoiceAbsent</comment>
        <translation> (not plugged in)</translation>
    </message>
    <message>
        <source>日志文件已被删除</source>
        <comment>kLogFileDeleted</comment>
        <translation>the log file was deleted</translation>
    </message>
</context>
</TS>
