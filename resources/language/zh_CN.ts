<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AccountDialog</name>
    <message>
        <source>Account</source>
        <translation>账户</translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>电子邮件</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>Keep me signed in</source>
        <translation>保持登录</translation>
    </message>
    <message>
        <source>Register</source>
        <translation>注册</translation>
    </message>
    <message>
        <source>Username</source>
        <translation>用户名</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>确认密码</translation>
    </message>
    <message>
        <source>Code</source>
        <translation>验证码</translation>
    </message>
    <message>
        <source>Send Code</source>
        <translation>发送验证码</translation>
    </message>
    <message>
        <source>Please enter an email address.</source>
        <translation>请输入电子邮件地址。</translation>
    </message>
    <message>
        <source>Please enter your email and password.</source>
        <translation>请输入电子邮件和密码。</translation>
    </message>
    <message>
        <source>Passwords do not match.</source>
        <translation>两次输入的密码不一致。</translation>
    </message>
    <message>
        <source>Request completed.</source>
        <translation>请求已完成。</translation>
    </message>
    <message>
        <source>Request failed.</source>
        <translation>请求失败。</translation>
    </message>
</context>
<context>
    <name>AccountSession</name>
    <message>
        <source>Not signed in</source>
        <translation>未登录</translation>
    </message>
    <message>
        <source>Your cloud sign-in has ended. Please sign in again.</source>
        <translation>云端登录已失效，请重新登录。</translation>
    </message>
</context>
<context>
    <name>AsciiCode</name>
    <message>
        <source>ASCII Code Chart</source>
        <translation>ASCII 码表</translation>
    </message>
    <message>
        <source>\0 Null character</source>
        <translation>\0 空字符</translation>
    </message>
    <message>
        <source>Start of Header</source>
        <translation>标题开始</translation>
    </message>
    <message>
        <source>Start of Text</source>
        <translation>正文开始</translation>
    </message>
    <message>
        <source>End of Text</source>
        <translation>正文结束</translation>
    </message>
    <message>
        <source>End of Transmission</source>
        <translation>传输结束</translation>
    </message>
    <message>
        <source>Enquiry</source>
        <translation>询问</translation>
    </message>
    <message>
        <source>Acknowledgment</source>
        <translation>确认</translation>
    </message>
    <message>
        <source>\a Bell</source>
        <translation>\a 响铃</translation>
    </message>
    <message>
        <source>\b Backspace</source>
        <translation>\b 退格</translation>
    </message>
    <message>
        <source>\t Horizontal Tab</source>
        <translation>\t 水平制表符</translation>
    </message>
    <message>
        <source>\n Line feed</source>
        <translation>\n 换行</translation>
    </message>
    <message>
        <source>\v Vertical Tab</source>
        <translation>\v 垂直制表符</translation>
    </message>
    <message>
        <source>\f Form feed</source>
        <translation>\f 换页</translation>
    </message>
    <message>
        <source>\r Carriage return</source>
        <translation>\r 回车</translation>
    </message>
    <message>
        <source>Shift Out</source>
        <translation>移出</translation>
    </message>
    <message>
        <source>Shift In</source>
        <translation>移入</translation>
    </message>
    <message>
        <source>Data Link Escape</source>
        <translation>数据链路转义</translation>
    </message>
    <message>
        <source>Device Control 1 (oft. XON)</source>
        <translation>设备控制 1（常作 XON）</translation>
    </message>
    <message>
        <source>Device Control 2</source>
        <translation>设备控制 2</translation>
    </message>
    <message>
        <source>Device Control 3 (oft. XOFF)</source>
        <translation>设备控制 3（常作 XOFF）</translation>
    </message>
    <message>
        <source>Device Control 4</source>
        <translation>设备控制 4</translation>
    </message>
    <message>
        <source>Negative Acknowledgement</source>
        <translation>否定确认</translation>
    </message>
    <message>
        <source>Synchronous idle</source>
        <translation>同步空闲</translation>
    </message>
    <message>
        <source>End of Transmission Block</source>
        <translation>传输块结束</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>End of Medium</source>
        <translation>介质结束</translation>
    </message>
    <message>
        <source>Substitute</source>
        <translation>替换</translation>
    </message>
    <message>
        <source>\e Escape</source>
        <translation>\e 转义</translation>
    </message>
    <message>
        <source>File Separator</source>
        <translation>文件分隔符</translation>
    </message>
    <message>
        <source>Group Separator</source>
        <translation>组分隔符</translation>
    </message>
    <message>
        <source>Record Separator</source>
        <translation>记录分隔符</translation>
    </message>
    <message>
        <source>Unit Separator</source>
        <translation>单元分隔符</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>空格</translation>
    </message>
    <message>
        <source>Binary</source>
        <translation>二进制</translation>
    </message>
    <message>
        <source>Decimal</source>
        <translation>十进制</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>Abbr/Glyph</source>
        <translation>缩写/字符</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>说明</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
</context>
<context>
    <name>BridgeCapture</name>
    <message>
        <source>Cannot create the log folder %1</source>
        <translation>无法创建日志文件夹 %1</translation>
    </message>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>无法打开 %1：%2</translation>
    </message>
</context>
<context>
    <name>BridgeConfig</name>
    <message>
        <source>(unnamed)</source>
        <translation>（未命名）</translation>
    </message>
</context>
<context>
    <name>BridgeDialog</name>
    <message>
        <source>Bridges</source>
        <translation>桥接</translation>
    </message>
    <message>
        <source>On</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>End A</source>
        <translation>端 A</translation>
    </message>
    <message>
        <source>End B</source>
        <translation>端 B</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>New...</source>
        <translation>新建...</translation>
    </message>
    <message>
        <source>Edit...</source>
        <translation>编辑...</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>恢复</translation>
    </message>
    <message>
        <source>%1 B</source>
        <translation>%1 B</translation>
    </message>
    <message>
        <source>%1 KB</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 MB</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>&lt;b&gt;%1&lt;/b&gt;&lt;br/&gt;A→B&amp;nbsp; %2 &amp;nbsp; %3/s &amp;nbsp; queue %4 &amp;nbsp; &lt;span style=&apos;color:%9&apos;&gt;dropped %5&lt;/span&gt;&lt;br/&gt;B→A&amp;nbsp; %6 &amp;nbsp; %7/s &amp;nbsp; queue %8 &amp;nbsp; &lt;span style=&apos;color:%9&apos;&gt;dropped %10&lt;/span&gt;</source>
        <translation>&lt;b&gt;%1&lt;/b&gt;&lt;br/&gt;A→B&amp;nbsp; %2 &amp;nbsp; %3/秒 &amp;nbsp; 队列 %4 &amp;nbsp; &lt;span style=&apos;color:%9&apos;&gt;丢弃 %5&lt;/span&gt;&lt;br/&gt;B→A&amp;nbsp; %6 &amp;nbsp; %7/秒 &amp;nbsp; 队列 %8 &amp;nbsp; &lt;span style=&apos;color:%9&apos;&gt;丢弃 %10&lt;/span&gt;</translation>
    </message>
    <message>
        <source>&lt;br/&gt;&lt;span style=&apos;color:#c0392b&apos;&gt;Capture stopped: %1&lt;/span&gt;</source>
        <translation>&lt;br/&gt;&lt;span style=&apos;color:#c0392b&apos;&gt;抓包已停止：%1&lt;/span&gt;</translation>
    </message>
    <message>
        <source>Taking turns: %1 waiting, %2 unanswered, %3 dropped</source>
        <translation>轮流使用：%1 个等待，%2 个未应答，%3 个丢弃</translation>
    </message>
    <message>
        <source>ⓘ Taking turns is configured, but neither end accepts several clients, so there is nothing to arbitrate.</source>
        <translation>ⓘ 已设置轮流使用，但两端都不接受多个客户端，因此无需仲裁。</translation>
    </message>
    <message>
        <source>ⓘ One end cannot be slowed down (a serial port without flow control, or UDP). If the buffer fills, the newest data is dropped and counted above.</source>
        <translation>ⓘ 有一端无法减速（没有流控的串口，或 UDP）。缓冲区满时，最新的数据会被丢弃并计入上面的统计。</translation>
    </message>
    <message>
        <source>A bridge joins two ports; add a second port first (Connection &gt; Add Port).</source>
        <translation>桥接需要连接两个端口；请先添加第二个端口（连接 &gt; 添加端口）。</translation>
    </message>
    <message>
        <source>Bridge %1</source>
        <translation>桥接 %1</translation>
    </message>
</context>
<context>
    <name>BridgeEditDialog</name>
    <message>
        <source>Bridge</source>
        <translation>桥接</translation>
    </message>
    <message>
        <source>Endpoints</source>
        <translation>端点</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>名称</translation>
    </message>
    <message>
        <source>e.g. Meter gateway</source>
        <translation>例如：仪表网关</translation>
    </message>
    <message>
        <source>End A</source>
        <translation>端 A</translation>
    </message>
    <message>
        <source>Direction</source>
        <translation>方向</translation>
    </message>
    <message>
        <source>End B</source>
        <translation>端 B</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Open both ends automatically</source>
        <translation>自动打开两端</translation>
    </message>
    <message>
        <source>Show forwarded data in the views</source>
        <translation>在视图中显示转发的数据</translation>
    </message>
    <message>
        <source>Access</source>
        <translation>访问控制</translation>
    </message>
    <message>
        <source>A TCP server endpoint puts read and write access to a physical device on the network. Bind it to 127.0.0.1 unless remote machines really need it.</source>
        <translation>TCP 服务器端点会把物理设备的读写权限开放到网络上。除非远程机器确实需要，请绑定到 127.0.0.1。</translation>
    </message>
    <message>
        <source>Allowed clients</source>
        <translation>允许的客户端</translation>
    </message>
    <message>
        <source>One address or subnet per line, e.g.
192.168.1.10
192.168.1.0/24

Leave empty to allow any address.</source>
        <translation>每行一个地址或子网，例如
192.168.1.10
192.168.1.0/24

留空表示允许任何地址。</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>协议</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>模式</translation>
    </message>
    <message>
        <source>Transaction timeout</source>
        <translation>事务超时</translation>
    </message>
    <message>
        <source> ms</source>
        <translation> 毫秒</translation>
    </message>
    <message>
        <source>How long a transaction id is held for its answer. Set it below the master&apos;s own timeout, or the gateway keeps state for requests the master has already given up on.</source>
        <translation>事务号等待应答的时长。请设置得比主站自身的超时短，否则网关会为主站已放弃的请求保留状态。</translation>
    </message>
    <message>
        <source>Framing</source>
        <translation>分帧</translation>
    </message>
    <message>
        <source>Idle gap</source>
        <translation>空闲间隔</translation>
    </message>
    <message>
        <source>Delimiter</source>
        <translation>分隔符</translation>
    </message>
    <message>
        <source>Hex, e.g. 0D0A</source>
        <translation>十六进制，例如 0D0A</translation>
    </message>
    <message>
        <source>Frame length</source>
        <translation>帧长度</translation>
    </message>
    <message>
        <source> bytes</source>
        <translation> 字节</translation>
    </message>
    <message>
        <source>Max frame size</source>
        <translation>最大帧长</translation>
    </message>
    <message>
        <source>Max hold time</source>
        <translation>最长保留时间</translation>
    </message>
    <message>
        <source>Data that never completes a frame is released after this long.</source>
        <translation>始终凑不成一帧的数据会在这段时间后发出。</translation>
    </message>
    <message>
        <source>Flow control</source>
        <translation>流量控制</translation>
    </message>
    <message>
        <source>Buffer limit</source>
        <translation>缓冲区上限</translation>
    </message>
    <message>
        <source> KB</source>
        <translation> KB</translation>
    </message>
    <message>
        <source>When the buffer fills</source>
        <translation>缓冲区满时</translation>
    </message>
    <message>
        <source>TCP server clients</source>
        <translation>TCP 服务器客户端</translation>
    </message>
    <message>
        <source>With several clients sharing one serial port their frames interleave on the wire and the device receives garbage. One client at a time refuses further clients while one is connected; taking turns queues whole requests and hands the port to one client until its answer is back.</source>
        <translation>多个客户端共用一个串口时，它们的帧会在线路上交错，设备收到的是乱码。“一次一个客户端”在已有客户端连接时拒绝其他客户端；“轮流使用”把完整的请求排队，并把端口交给一个客户端，直到它的应答返回。</translation>
    </message>
    <message>
        <source>Answer timeout</source>
        <translation>应答超时</translation>
    </message>
    <message>
        <source>How long a client owns the device after its request goes out. Too short hands the bus away mid-answer; too long lets one silent device stall every other client.</source>
        <translation>请求发出后客户端占用设备的时长。太短会在应答中途把总线交给别人；太长会让一台不应答的设备拖住所有其他客户端。</translation>
    </message>
    <message>
        <source>Taking turns needs a framing mode that marks where a request ends; with &quot;Forward immediately&quot; there is nothing to take turns with.</source>
        <translation>轮流使用需要一种能标出请求结束位置的分帧方式；使用“立即转发”时无从轮流。</translation>
    </message>
    <message>
        <source>UDP target</source>
        <translation>UDP 目标</translation>
    </message>
    <message>
        <source>Stop automatically if a cable loop is detected</source>
        <translation>检测到线缆环路时自动停止</translation>
    </message>
    <message>
        <source>Capture</source>
        <translation>抓包</translation>
    </message>
    <message>
        <source>Record both directions to one file</source>
        <translation>将两个方向记录到同一个文件</translation>
    </message>
    <message>
        <source>One time-ordered file with each frame marked A-&gt;B or B-&gt;A, so a capture reads as a protocol trace instead of two logs someone has to interleave by hand.</source>
        <translation>一个按时间排序的文件，每帧标记 A-&gt;B 或 B-&gt;A，读起来就是一份协议跟踪，而不是需要人工交错对照的两份日志。</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>浏览...</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>格式</translation>
    </message>
    <message>
        <source>Start a new file at</source>
        <translation>新文件起始大小</translation>
    </message>
    <message>
        <source> MB</source>
        <translation> MB</translation>
    </message>
    <message>
        <source>The previous capture is kept as .1 and older ones are discarded, so an unattended gateway cannot fill its disk.</source>
        <translation>上一个抓包文件保留为 .1，更早的会被删除，因此无人值守的网关不会占满磁盘。</translation>
    </message>
    <message>
        <source>A → B</source>
        <translation>A → B</translation>
    </message>
    <message>
        <source>B → A</source>
        <translation>B → A</translation>
    </message>
    <message>
        <source>A ⇄ B (both ways)</source>
        <translation>A ⇄ B（双向）</translation>
    </message>
    <message>
        <source>Transparent (pass bytes through)</source>
        <translation>透明（原样转发字节）</translation>
    </message>
    <message>
        <source>RFC 2217 server (remote client sets the serial parameters)</source>
        <translation>RFC 2217 服务器（远程客户端设置串口参数）</translation>
    </message>
    <message>
        <source>RFC 2217 client (set a remote device server&apos;s serial parameters)</source>
        <translation>RFC 2217 客户端（设置远程设备服务器的串口参数）</translation>
    </message>
    <message>
        <source>Modbus TCP to Modbus RTU gateway</source>
        <translation>Modbus TCP 转 Modbus RTU 网关</translation>
    </message>
    <message>
        <source>Forward immediately (lowest latency)</source>
        <translation>立即转发（延迟最低）</translation>
    </message>
    <message>
        <source>Cut on idle gap (Modbus RTU)</source>
        <translation>按空闲间隔分帧（Modbus RTU）</translation>
    </message>
    <message>
        <source>Cut on delimiter</source>
        <translation>按分隔符分帧</translation>
    </message>
    <message>
        <source>Fixed length</source>
        <translation>固定长度</translation>
    </message>
    <message>
        <source>Slow the sender down (recommended)</source>
        <translation>让发送方减速（推荐）</translation>
    </message>
    <message>
        <source>Drop the oldest data</source>
        <translation>丢弃最旧的数据</translation>
    </message>
    <message>
        <source>Drop the newest data</source>
        <translation>丢弃最新的数据</translation>
    </message>
    <message>
        <source>Stop the bridge and tell me</source>
        <translation>停止桥接并通知我</translation>
    </message>
    <message>
        <source>One client at a time (recommended)</source>
        <translation>一次一个客户端（推荐）</translation>
    </message>
    <message>
        <source>Take turns, one request at a time</source>
        <translation>轮流使用，一次一个请求</translation>
    </message>
    <message>
        <source>All clients share the port</source>
        <translation>所有客户端共享端口</translation>
    </message>
    <message>
        <source>Reply to the last sender</source>
        <translation>回复最后的发送方</translation>
    </message>
    <message>
        <source>Fixed destination</source>
        <translation>固定目标</translation>
    </message>
    <message>
        <source>All known peers</source>
        <translation>所有已知对端</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>Text (control bytes escaped)</source>
        <translation>文本（控制字节转义）</translation>
    </message>
    <message>
        <source>Modbus RTU has no length field, so the serial side needs &quot;Cut on idle gap&quot; framing for a reply to be recognised as one frame.</source>
        <translation>Modbus RTU 没有长度字段，因此串口一侧需要“按空闲间隔分帧”，才能把一个应答识别为一帧。</translation>
    </message>
    <message>
        <source>The network end speaks Telnet. Point a client at it with rfc2217://host:port, or a virtual COM driver that supports RFC 2217.</source>
        <translation>网络端使用 Telnet。用 rfc2217://主机:端口 或支持 RFC 2217 的虚拟串口驱动连接它。</translation>
    </message>
    <message>
        <source>The network end must be a TCP client pointed at a device server that speaks RFC 2217 (Moxa NPort, ser2net, another Quillon). The other end&apos;s serial parameters are sent to the remote port when the link connects and whenever they change.</source>
        <translation>网络端必须是指向支持 RFC 2217 的设备服务器（Moxa NPort、ser2net、另一个 Quillon）的 TCP 客户端。另一端的串口参数会在连接时以及每次变化时发送到远程端口。</translation>
    </message>
    <message>
        <source>Capture file</source>
        <translation>抓包文件</translation>
    </message>
    <message>
        <source>Log files (*.log *.txt);;All files (*)</source>
        <translation>日志文件 (*.log *.txt);;所有文件 (*)</translation>
    </message>
    <message>
        <source>Bridges</source>
        <translation>桥接</translation>
    </message>
    <message>
        <source>The delimiter must be hex bytes, e.g. 0D0A.</source>
        <translation>分隔符必须是十六进制字节，例如 0D0A。</translation>
    </message>
</context>
<context>
    <name>BridgeLink</name>
    <message>
        <source>%1: capture stopped, %2</source>
        <translation>%1：捕获记录已停止，%2</translation>
    </message>
    <message>
        <source>%1: high throughput, forwarded traffic is no longer shown (logging continues)</source>
        <translation>%1：吞吐量过高，转发的数据不再显示（日志记录继续）</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>已禁用</translation>
    </message>
    <message>
        <source>Suspended: %1</source>
        <translation>已挂起：%1</translation>
    </message>
    <message>
        <source>Running (display paused)</source>
        <translation>运行中（显示已暂停）</translation>
    </message>
    <message>
        <source>Running</source>
        <translation>运行中</translation>
    </message>
    <message>
        <source>Degraded: %1 is closed</source>
        <translation>降级：%1 已关闭</translation>
    </message>
    <message>
        <source>Waiting for both ends to open</source>
        <translation>等待两端打开</translation>
    </message>
    <message>
        <source>%1: sent the serial parameters to the remote port</source>
        <translation>%1：已将串口参数发送到远程端口</translation>
    </message>
</context>
<context>
    <name>BridgeManager</name>
    <message>
        <source>Removed bridge(s) whose port no longer exists: %1</source>
        <translation>已移除端口已不存在的桥接：%1</translation>
    </message>
    <message>
        <source>Waiting for port %1</source>
        <translation>等待端口 %1</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Idle</source>
        <translation>空闲</translation>
    </message>
    <message>
        <source>Running</source>
        <translation>运行中</translation>
    </message>
    <message>
        <source>Degraded</source>
        <translation>降级</translation>
    </message>
    <message>
        <source>Suspended</source>
        <translation>已挂起</translation>
    </message>
    <message>
        <source>A bridge needs two different ports</source>
        <translation>桥接需要两个不同的端口</translation>
    </message>
    <message>
        <source>Both ends must name a port</source>
        <translation>两端都必须指定端口</translation>
    </message>
    <message>
        <source>Port number is out of range</source>
        <translation>端口号超出范围</translation>
    </message>
    <message>
        <source>Port %1 is transferring a file</source>
        <translation>端口 %1 正在传输文件</translation>
    </message>
    <message>
        <source>That direction is already bridged</source>
        <translation>该方向已被桥接</translation>
    </message>
    <message>
        <source>Skipped invalid bridge(s): %1</source>
        <translation>已跳过无效的桥接：%1</translation>
    </message>
    <message>
        <source>Port %1 is written to by more than one bridge; their data will interleave on its wire.</source>
        <translation>端口 %1 被多个桥接写入；它们的数据将在该线路上交错。</translation>
    </message>
    <message>
        <source>Bridged to %1</source>
        <translation>已桥接到 %1</translation>
    </message>
</context>
<context>
    <name>BridgePipe</name>
    <message>
        <source>Flood guard tripped (possible cable loop)</source>
        <translation>防洪保护已触发（可能存在线缆环路）</translation>
    </message>
    <message>
        <source>Egress queue overflowed</source>
        <translation>发送队列溢出</translation>
    </message>
</context>
<context>
    <name>BridgeSparkline</name>
    <message>
        <source>Last two minutes. Above the line: A to B. Below: B to A. Red bands mark seconds where data was dropped.</source>
        <translation>最近两分钟。线上方：A 到 B。线下方：B 到 A。红色带标出有数据被丢弃的秒。</translation>
    </message>
    <message>
        <source>No traffic yet</source>
        <translation>尚无流量</translation>
    </message>
</context>
<context>
    <name>CloudConsoleService</name>
    <message>
        <source>Cloud Console stopped: monthly traffic quota used up. Please top up to continue.</source>
        <translation>云控制台已停止：本月流量配额已用完，请充值后继续。</translation>
    </message>
    <message>
        <source>Port %1: %2</source>
        <translation>端口 %1：%2</translation>
    </message>
    <message>
        <source>remote send is disabled on the device</source>
        <translation>设备已禁止远程发送</translation>
    </message>
    <message>
        <source>remote port control is disabled on the device</source>
        <translation>设备已禁止远程端口控制</translation>
    </message>
    <message>
        <source>the console session has changed</source>
        <translation>控制台会话已变更</translation>
    </message>
    <message>
        <source>snapshot sent</source>
        <translation>已发送端口快照</translation>
    </message>
    <message>
        <source>no port with this key</source>
        <translation>没有该标识的端口</translation>
    </message>
    <message>
        <source>the port is already open</source>
        <translation>端口已经打开</translation>
    </message>
    <message>
        <source>failed to open the port</source>
        <translation>打开端口失败</translation>
    </message>
    <message>
        <source>port opened</source>
        <translation>端口已打开</translation>
    </message>
    <message>
        <source>port closed</source>
        <translation>端口已关闭</translation>
    </message>
    <message>
        <source>unsupported command: %1</source>
        <translation>不支持的命令：%1</translation>
    </message>
    <message>
        <source>empty payload</source>
        <translation>内容为空</translation>
    </message>
    <message>
        <source>invalid hex: %1</source>
        <translation>无效的十六进制：%1</translation>
    </message>
    <message>
        <source>the port is not open</source>
        <translation>端口未打开</translation>
    </message>
    <message>
        <source>the port did not take the data</source>
        <translation>端口未接收数据</translation>
    </message>
    <message>
        <source>sent %1 bytes</source>
        <translation>已发送 %1 字节</translation>
    </message>
    <message>
        <source>only a serial port has parameters</source>
        <translation>只有串口才有串口参数</translation>
    </message>
    <message>
        <source>invalid value for %1</source>
        <translation>%1 的取值无效</translation>
    </message>
    <message>
        <source>a value is outside the allowed range</source>
        <translation>有取值超出允许范围</translation>
    </message>
    <message>
        <source>the port is busy</source>
        <translation>端口正忙</translation>
    </message>
    <message>
        <source>port settings applied: %1 baud, %2 data bits, parity %3, %4 stop bits, flow control %5</source>
        <translation>端口参数已应用：波特率 %1，数据位 %2，校验 %3，停止位 %4，流控 %5</translation>
    </message>
    <message>
        <source>… %1 bytes skipped</source>
        <translation>… 已跳过 %1 字节</translation>
    </message>
</context>
<context>
    <name>ConnectionController</name>
    <message>
        <source>TCP Server :%1</source>
        <translation>TCP 服务器 :%1</translation>
    </message>
    <message>
        <source>TCP Client %1:%2</source>
        <translation>TCP 客户端 %1:%2</translation>
    </message>
    <message>
        <source>UDP Server :%1</source>
        <translation>UDP 服务器 :%1</translation>
    </message>
    <message>
        <source>UDP %1:%2</source>
        <translation>UDP %1:%2</translation>
    </message>
    <message>
        <source>Remote Serial %1:%2</source>
        <translation>远程串口 %1:%2</translation>
    </message>
    <message>
        <source>Port %1</source>
        <translation>端口 %1</translation>
    </message>
    <message>
        <source>Serial Port %1 OPEN FAILED! ERROR: </source>
        <translation>串口 %1 打开失败！错误：</translation>
    </message>
    <message>
        <source>Failed to set %1: %2</source>
        <translation>设置%1失败：%2</translation>
    </message>
    <message>
        <source>baud rate</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>data bits</source>
        <translation>数据位</translation>
    </message>
    <message>
        <source>parity</source>
        <translation>校验位</translation>
    </message>
    <message>
        <source>stop bits</source>
        <translation>停止位</translation>
    </message>
    <message>
        <source>flow control</source>
        <translation>流控</translation>
    </message>
    <message>
        <source>Serial Port %1 OPEN SUCCESS</source>
        <translation>串口 %1 打开成功</translation>
    </message>
    <message>
        <source>RTS is managed automatically by RTS/CTS flow control</source>
        <translation>RTS 由 RTS/CTS 流控自动管理</translation>
    </message>
    <message>
        <source>Break</source>
        <translation>Break</translation>
    </message>
    <message>
        <source>Open the serial port before sending Break</source>
        <translation>请先打开串口再发送 Break</translation>
    </message>
    <message>
        <source>Serial Port %1 DISCONNECTED</source>
        <translation>串口 %1 已断开</translation>
    </message>
    <message>
        <source>TCP connect FAILED: %1</source>
        <translation>TCP 连接失败：%1</translation>
    </message>
    <message>
        <source>Refused %1: %2</source>
        <translation>已拒绝 %1：%2</translation>
    </message>
    <message>
        <source>UDP bind to port %1 FAILED: %2</source>
        <translation>UDP 绑定端口 %1 失败：%2</translation>
    </message>
    <message>
        <source>No UDP peer to reply to yet</source>
        <translation>尚无可回复的 UDP 对端</translation>
    </message>
    <message>
        <source>Serial Port %1 CLOSE FAILED</source>
        <translation>串口 %1 关闭失败</translation>
    </message>
    <message>
        <source>Serial Port %1 CLOSE SUCCESS</source>
        <translation>串口 %1 关闭成功</translation>
    </message>
    <message>
        <source>Could not join the multicast group %1: %2</source>
        <translation>无法加入组播组 %1：%2</translation>
    </message>
    <message>
        <source>The port belongs to the group &quot;%1&quot;, which this session does not have. Add yourself to it with &quot;sudo usermod -aG %1 %2&quot;, then log out and log in again.</source>
        <translation>该端口属于用户组“%1”，当前会话不在该组中。请用“sudo usermod -aG %1 %2”把自己加入该组，然后注销并重新登录。</translation>
    </message>
</context>
<context>
    <name>ConnectionSettingsWidget</name>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>模式</translation>
    </message>
    <message>
        <source>Baudrate</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>Data Bits</source>
        <translation>数据位</translation>
    </message>
    <message>
        <source>Parity</source>
        <translation>校验位</translation>
    </message>
    <message>
        <source>Stop Bits</source>
        <translation>停止位</translation>
    </message>
    <message>
        <source>Flow Type</source>
        <translation>流控</translation>
    </message>
    <message>
        <source>Host</source>
        <translation>主机</translation>
    </message>
    <message>
        <source>Keep the remote port&apos;s own configuration</source>
        <translation>保留远程端口自身的配置</translation>
    </message>
    <message>
        <source>Send no parameters. Clear this only to take over the remote port&apos;s baud rate and framing.</source>
        <translation>不发送任何参数。仅在需要接管远程端口的波特率和帧格式时才取消勾选。</translation>
    </message>
    <message>
        <source>Remote baudrate</source>
        <translation>远程波特率</translation>
    </message>
    <message>
        <source>Remote data bits</source>
        <translation>远程数据位</translation>
    </message>
    <message>
        <source>Remote parity</source>
        <translation>远程校验位</translation>
    </message>
    <message>
        <source>Remote stop bits</source>
        <translation>远程停止位</translation>
    </message>
    <message>
        <source>Remote flow control</source>
        <translation>远程流控</translation>
    </message>
    <message>
        <source>Bind</source>
        <translation>绑定</translation>
    </message>
    <message>
        <source>Dest Host</source>
        <translation>目标主机</translation>
    </message>
    <message>
        <source>Dest Port</source>
        <translation>目标端口</translation>
    </message>
    <message>
        <source>Local Port</source>
        <translation>本地端口</translation>
    </message>
    <message>
        <source>Port name or device path</source>
        <translation>端口名或设备路径</translation>
    </message>
    <message>
        <source>TCP/UDP</source>
        <translation>TCP/UDP</translation>
    </message>
    <message>
        <source>Remote Serial (RFC 2217)</source>
        <translation>远程串口 (RFC 2217)</translation>
    </message>
</context>
<context>
    <name>FileTransferBar</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>(unnamed)</source>
        <translation>（未命名）</translation>
    </message>
    <message>
        <source>Receiving %1 (%2)</source>
        <translation>正在接收 %1（%2）</translation>
    </message>
    <message>
        <source>Sending %1 (%2)</source>
        <translation>正在发送 %1（%2）</translation>
    </message>
    <message>
        <source> -&gt; %1</source>
        <translation> -&gt; %1</translation>
    </message>
</context>
<context>
    <name>FileTransferDialog</name>
    <message>
        <source>Protocol:</source>
        <translation>协议：</translation>
    </message>
    <message>
        <source>Block size:</source>
        <translation>块大小：</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>浏览...</translation>
    </message>
    <message>
        <source>Save as:</source>
        <translation>另存为：</translation>
    </message>
    <message>
        <source>Stop after (MB):</source>
        <translation>接收上限 (MB)：</translation>
    </message>
    <message>
        <source>no limit</source>
        <translation>不限</translation>
    </message>
    <message>
        <source> MB</source>
        <translation> MB</translation>
    </message>
    <message>
        <source>Client:</source>
        <translation>客户端：</translation>
    </message>
    <message>
        <source>Keep this window open afterwards</source>
        <translation>传输结束后保持此窗口打开</translation>
    </message>
    <message>
        <source>Receive File</source>
        <translation>接收文件</translation>
    </message>
    <message>
        <source>Send File</source>
        <translation>发送文件</translation>
    </message>
    <message>
        <source>XMODEM (128 bytes, checksum)</source>
        <translation>XMODEM（128 字节，校验和）</translation>
    </message>
    <message>
        <source>XMODEM-CRC (128 bytes, CRC-16)</source>
        <translation>XMODEM-CRC（128 字节，CRC-16）</translation>
    </message>
    <message>
        <source>XMODEM-1K (1024 bytes)</source>
        <translation>XMODEM-1K（1024 字节）</translation>
    </message>
    <message>
        <source>YMODEM</source>
        <translation>YMODEM</translation>
    </message>
    <message>
        <source>YMODEM-G (streaming, no retries)</source>
        <translation>YMODEM-G（流式，不重传）</translation>
    </message>
    <message>
        <source>Save into:</source>
        <translation>保存到：</translation>
    </message>
    <message>
        <source>File:</source>
        <translation>文件：</translation>
    </message>
    <message>
        <source>RTS/CTS</source>
        <translation>RTS/CTS</translation>
    </message>
    <message>
        <source>XON/XOFF</source>
        <translation>XON/XOFF</translation>
    </message>
    <message>
        <source>no flow control</source>
        <translation>无流控</translation>
    </message>
    <message>
        <source>%1, %2 baud, %3</source>
        <translation>%1，%2 波特，%3</translation>
    </message>
    <message>
        <source>TCP %1:%2</source>
        <translation>TCP %1:%2</translation>
    </message>
    <message>
        <source>RFC 2217 %1:%2</source>
        <translation>RFC 2217 %1:%2</translation>
    </message>
    <message>
        <source>TCP server, port %1</source>
        <translation>TCP 服务器，端口 %1</translation>
    </message>
    <message>
        <source>YMODEM-G does not resend anything, so it needs hardware flow control (RTS/CTS). This connection has none: a single error would abandon the whole transfer.</source>
        <translation>YMODEM-G 不会重发任何数据，因此需要硬件流控（RTS/CTS）。此连接没有硬件流控：一次错误就会使整个传输作废。</translation>
    </message>
    <message>
        <source>XMODEM carries no file name or length, so you must supply the name, and the received file is always padded up to a whole number of blocks.</source>
        <translation>XMODEM 不携带文件名和长度，因此必须自行指定文件名，且接收到的文件总会被填充到整数个数据块。</translation>
    </message>
    <message>
        <source>XMODEM carries no file name or length. The device will receive the data padded up to a whole number of blocks.</source>
        <translation>XMODEM 不携带文件名和长度。设备收到的数据会被填充到整数个数据块。</translation>
    </message>
    <message>
        <source>File to send</source>
        <translation>要发送的文件</translation>
    </message>
    <message>
        <source>Save into</source>
        <translation>保存到</translation>
    </message>
</context>
<context>
    <name>FileTransferSession</name>
    <message>
        <source>Cancelled.</source>
        <translation>已取消。</translation>
    </message>
    <message>
        <source>Cancelled. The device may still have received up to one more block of data -- if this was a firmware update, run the whole update again.</source>
        <translation>已取消。设备可能还多收到了最多一个数据块——如果这是一次固件升级，请重新完整地执行升级。</translation>
    </message>
    <message>
        <source>The device cancelled the transfer.</source>
        <translation>设备取消了传输。</translation>
    </message>
    <message>
        <source>The connection was closed, so the transfer stopped. If this was a firmware update the device may be left with an incomplete image -- run the update again.</source>
        <translation>连接已关闭，传输已停止。如果这是一次固件升级，设备中的镜像可能不完整——请重新执行升级。</translation>
    </message>
    <message>
        <source>The connection was lost, so the transfer stopped. If this was a firmware update the device may be left with an incomplete image -- run the update again.</source>
        <translation>连接已丢失，传输已停止。如果这是一次固件升级，设备中的镜像可能不完整——请重新执行升级。</translation>
    </message>
    <message>
        <source>What arrived was kept as &quot;%1&quot;.</source>
        <translation>已收到的数据保存为“%1”。</translation>
    </message>
    <message>
        <source>The device asked for the name &quot;%1&quot;; it was saved as &quot;%2&quot;.</source>
        <translation>设备请求的文件名为“%1”；已保存为“%2”。</translation>
    </message>
    <message>
        <source>A file of that name already existed, so this one was saved as &quot;%1&quot;.</source>
        <translation>同名文件已存在，因此此文件已保存为“%1”。</translation>
    </message>
    <message>
        <source>(unnamed)</source>
        <translation>（未命名）</translation>
    </message>
    <message>
        <source>Receiving with %1</source>
        <translation>正在以 %1 接收</translation>
    </message>
    <message>
        <source>Sending %1 (%2, %3 bytes)</source>
        <translation>正在发送 %1（%2，%3 字节）</translation>
    </message>
    <message>
        <source>%1 / %2 bytes</source>
        <translation>%1 / %2 字节</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 字节</translation>
    </message>
    <message>
        <source>  %1 KB/s</source>
        <translation>  %1 KB/s</translation>
    </message>
    <message>
        <source>  %1s left</source>
        <translation>  剩余 %1 秒</translation>
    </message>
    <message>
        <source>  %1 retries</source>
        <translation>  重试 %1 次</translation>
    </message>
    <message>
        <source>Transfer complete: %1 bytes in %2 s, %3 KB/s, %4 retries</source>
        <translation>传输完成：%1 字节，用时 %2 秒，%3 KB/s，重试 %4 次</translation>
    </message>
    <message>
        <source>Transfer failed: %1</source>
        <translation>传输失败：%1</translation>
    </message>
    <message>
        <source> (%1% transferred)</source>
        <translation>（已传输 %1%）</translation>
    </message>
</context>
<context>
    <name>Gateway</name>
    <message>
        <source>%1: cannot listen on %2</source>
        <translation>%1：无法在 %2 上监听</translation>
    </message>
    <message>
        <source>%1: client %2 connected</source>
        <translation>%1：客户端 %2 已连接</translation>
    </message>
    <message>
        <source>%1: client %2 left</source>
        <translation>%1：客户端 %2 已离开</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>%1: serving %2 on %3 (%4)</source>
        <translation>%1：在 %3 上提供 %2（%4）</translation>
    </message>
    <message>
        <source>%1: opened %2</source>
        <translation>%1：已打开 %2</translation>
    </message>
    <message>
        <source>%1: %2; trying again every %3 s</source>
        <translation>%1：%2；每 %3 秒重试一次</translation>
    </message>
    <message>
        <source>stopping</source>
        <translation>正在停止</translation>
    </message>
    <message>
        <source>%1: %2 bytes to the serial port, %3 bytes to the network, %4 bytes dropped</source>
        <translation>%1：%2 字节发往串口，%3 字节发往网络，丢弃 %4 字节</translation>
    </message>
    <message>
        <source>; Modbus: %1 requests, %2 responses, %3 malformed requests, %4 failed answers, %5 unmatched answers, %6 expired</source>
        <translation>；Modbus：%1 个请求，%2 个响应，%3 个格式错误的请求，%4 个无效应答，%5 个无法匹配的应答，%6 个已过期</translation>
    </message>
</context>
<context>
    <name>GatewayOptions</name>
    <message>
        <source>Expected DEVICE[,BAUD[,8N1[,FLOW]]] for --serial, got &quot;%1&quot;.</source>
        <translation>--serial 应为 DEVICE[,BAUD[,8N1[,FLOW]]]，实际为“%1”。</translation>
    </message>
    <message>
        <source>The baud rate &quot;%1&quot; is not a number from 50 to 16000000.</source>
        <translation>波特率“%1”不是 50 到 16000000 之间的数字。</translation>
    </message>
    <message>
        <source>The line format &quot;%1&quot; is not like 8N1 (data bits 5 to 8, parity N, E, O, M or S, stop bits 1, 1.5 or 2).</source>
        <translation>线路格式“%1”不符合 8N1 的形式（数据位 5 到 8，校验 N、E、O、M 或 S，停止位 1、1.5 或 2）。</translation>
    </message>
    <message>
        <source>The flow control &quot;%1&quot; is not none, rtscts or xonxoff.</source>
        <translation>流控“%1”不是 none、rtscts 或 xonxoff。</translation>
    </message>
    <message>
        <source>Expected [ADDR:]PORT for --listen, with a numeric address and a port from 1 to 65535, got &quot;%1&quot;.</source>
        <translation>--listen 应为 [ADDR:]PORT，地址为数字形式，端口为 1 到 65535，实际为“%1”。</translation>
    </message>
    <message>
        <source>Expected immediate, idle-gap[:MS], delimiter:HEX or fixed:N for --framing, got &quot;%1&quot;.</source>
        <translation>--framing 应为 immediate、idle-gap[:MS]、delimiter:HEX 或 fixed:N，实际为“%1”。</translation>
    </message>
    <message>
        <source>Expected raw, rfc2217 or modbus for --protocol, got &quot;%1&quot;.</source>
        <translation>--protocol 应为 raw、rfc2217 或 modbus，实际为“%1”。</translation>
    </message>
    <message>
        <source>Cannot read the configuration file %1.</source>
        <translation>无法读取配置文件 %1。</translation>
    </message>
    <message>
        <source>%1 is not a valid configuration file.</source>
        <translation>%1 不是有效的配置文件。</translation>
    </message>
    <message>
        <source>unknown or fixed keys %1</source>
        <translation>未知或不可设置的键 %1</translation>
    </message>
    <message>
        <source>serial= and listen= are both needed</source>
        <translation>serial= 和 listen= 都必须给出</translation>
    </message>
    <message>
        <source>%1, section [%2]: %3</source>
        <translation>%1，节 [%2]：%3</translation>
    </message>
    <message>
        <source>Unknown option &quot;%1&quot;.</source>
        <translation>未知选项“%1”。</translation>
    </message>
    <message>
        <source>%1 needs a value.</source>
        <translation>%1 需要一个值。</translation>
    </message>
    <message>
        <source>Expected an address or ADDR/NET for --allow, got &quot;%1&quot;.</source>
        <translation>--allow 应为地址或 ADDR/NET，实际为“%1”。</translation>
    </message>
    <message>
        <source>--serial and --listen go together.</source>
        <translation>--serial 和 --listen 必须同时给出。</translation>
    </message>
    <message>
        <source>Nothing to serve: give --serial and --listen, or --config.</source>
        <translation>没有可服务的内容：请给出 --serial 和 --listen，或 --config。</translation>
    </message>
    <message>
        <source>Usage:
  quillon-gateway --serial DEVICE[,BAUD[,8N1[,FLOW]]] --listen [ADDR:]PORT [options]
  quillon-gateway --config FILE

Serves a serial port on a TCP port without a window: as raw bytes, as an RFC 2217
remote serial port, or as a Modbus TCP to Modbus RTU gateway. Runs until SIGINT or
SIGTERM; data on its way is then delivered for up to one second.

Options:
  --serial DEVICE[,BAUD[,8N1[,FLOW]]]
                     the serial port, e.g. /dev/ttyUSB0,19200,8E1,none; BAUD
                     defaults to 9600, the format to 8N1, FLOW (none, rtscts or
                     xonxoff) to none
  --listen [ADDR:]PORT
                     where clients connect; ADDR defaults to 127.0.0.1 (use
                     0.0.0.0 for every interface, [::1] for IPv6)
  --protocol raw|rfc2217|modbus
                     raw passes bytes through (default); rfc2217 lets clients set
                     the line parameters and control lines; modbus turns Modbus
                     TCP requests into RTU frames and the answers back
  --framing immediate|idle-gap[:MS]|delimiter:HEX|fixed:N
                     how bytes are cut into frames (default immediate, and
                     idle-gap with modbus; MS defaults to 4)
  --allow ADDR[/NET] only these clients may connect (repeatable; default any)
  --capture FILE     record both directions, time-stamped, to FILE
  --name NAME        the bridge&apos;s name in log lines (default &quot;gateway&quot;)
  --config FILE      more bridges from an INI file, one section per bridge with
                     serial= and listen= as above and any bridge setting
                     (Protocol=2, FramingMode=1, FanoutMode=2, QueueLimitBytes=...)
  -h, --help         show this help
      --version      show the version

Log lines go to standard error. Exit status: 0 after a clean stop, 1 for a bad
command line or configuration, 2 when a TCP port cannot be served.
</source>
        <translation>用法：
  quillon-gateway --serial DEVICE[,BAUD[,8N1[,FLOW]]] --listen [ADDR:]PORT [选项]
  quillon-gateway --config FILE

在没有窗口的情况下把串口开放到 TCP 端口：原样转发字节、作为 RFC 2217 远程串口，
或作为 Modbus TCP 转 Modbus RTU 网关。运行到收到 SIGINT 或 SIGTERM 为止；之后
正在途中的数据最多再投递一秒。

选项：
  --serial DEVICE[,BAUD[,8N1[,FLOW]]]
                     串口，例如 /dev/ttyUSB0,19200,8E1,none；
                     BAUD 默认 9600，格式默认 8N1，
                     FLOW（none、rtscts 或 xonxoff）默认 none
  --listen [ADDR:]PORT
                     客户端连接的位置；ADDR 默认 127.0.0.1（所有网卡用
                     0.0.0.0，IPv6 用 [::1]）
  --protocol raw|rfc2217|modbus
                     raw 原样转发字节（默认）；rfc2217 允许客户端设置线路参数
                     和控制线；modbus 把 Modbus TCP 请求转换为 RTU 帧，并把
                     应答转换回来
  --framing immediate|idle-gap[:MS]|delimiter:HEX|fixed:N
                     字节的分帧方式（默认 immediate，modbus 时默认
                     idle-gap；MS 默认 4）
  --allow ADDR[/NET] 只允许这些客户端连接（可重复；默认任何客户端）
  --capture FILE     把两个方向带时间戳记录到 FILE
  --name NAME        日志中的桥接名称（默认 &quot;gateway&quot;）
  --config FILE      从 INI 文件读取更多桥接，每个桥接一节，包含与上面相同的
                     serial= 和 listen=，以及任意桥接设置
                     （Protocol=2、FramingMode=1、FanoutMode=2、QueueLimitBytes=...）
  -h, --help         显示此帮助
      --version      显示版本

日志行写到标准错误。退出状态：正常停止为 0，命令行或配置有误为 1，
无法提供 TCP 端口服务为 2。
</translation>
    </message>
    <message>
        <source>Try quillon-gateway --help.</source>
        <translation>请尝试 quillon-gateway --help。</translation>
    </message>
</context>
<context>
    <name>LampRow</name>
    <message>
        <source>TX</source>
        <translation>TX</translation>
    </message>
    <message>
        <source>RX</source>
        <translation>RX</translation>
    </message>
    <message>
        <source>RTS</source>
        <translation>RTS</translation>
    </message>
    <message>
        <source>CTS</source>
        <translation>CTS</translation>
    </message>
    <message>
        <source>DTR</source>
        <translation>DTR</translation>
    </message>
    <message>
        <source>DSR</source>
        <translation>DSR</translation>
    </message>
    <message>
        <source>DCD</source>
        <translation>DCD</translation>
    </message>
    <message>
        <source>RI</source>
        <translation>RI</translation>
    </message>
    <message>
        <source>Lights while data is being sent or received</source>
        <translation>收发数据时点亮</translation>
    </message>
    <message>
        <source>Click to send a serial break (hold for longer)</source>
        <translation>点击发送串口 Break 信号（按住可延长）</translation>
    </message>
    <message>
        <source>Click to send a Break to the remote port (hold for longer)</source>
        <translation>点击向远程端口发送 Break 信号（按住可延长）</translation>
    </message>
    <message>
        <source>Lights while data is being sent or received. Clear &quot;Keep the remote port&apos;s own configuration&quot; to send a Break to the remote port.</source>
        <translation>收发数据时点亮。取消勾选“保留远程端口自身的配置”即可向远程端口发送 Break 信号。</translation>
    </message>
    <message>
        <source>Click to toggle the remote %1 output; the lamp lights after the RFC 2217 server confirms it</source>
        <translation>点击切换远程 %1 输出；RFC 2217 服务器确认后指示灯点亮</translation>
    </message>
    <message>
        <source>Remote level reported by the RFC 2217 server</source>
        <translation>RFC 2217 服务器上报的远程电平</translation>
    </message>
    <message>
        <source>RTS is managed automatically by RTS/CTS flow control</source>
        <translation>RTS 由 RTS/CTS 流控自动管理</translation>
    </message>
    <message>
        <source>Click to toggle the RTS output</source>
        <translation>点击切换 RTS 输出</translation>
    </message>
    <message>
        <source>Click to toggle the DTR output</source>
        <translation>点击切换 DTR 输出</translation>
    </message>
    <message>
        <source>The remote port is left under its own configuration. Clear &quot;Keep the remote port&apos;s own configuration&quot; to drive RTS, DTR and Break from here.</source>
        <translation>远程端口保持其自身的配置。取消勾选“保留远程端口自身的配置”即可在此控制 RTS、DTR 和 Break。</translation>
    </message>
    <message>
        <source>Control lines belong to a serial port. This connection does not have one.</source>
        <translation>控制线属于串口，此连接没有串口。</translation>
    </message>
    <message>
        <source>RTS is driven by RTS/CTS flow control and cannot be set by hand.</source>
        <translation>RTS 由 RTS/CTS 流控驱动，无法手动设置。</translation>
    </message>
    <message>
        <source>BRK</source>
        <translation>BRK</translation>
    </message>
</context>
<context>
    <name>LogWriter</name>
    <message>
        <source>%S - session name; 
%Y - four-digit year; %y - two-digit year; %M - two-digit month; %D - two-digit day of the month;
%h - two-digit hour; %m - two-digit minute; %s - two-digit seconds; %z - three-digit milliseconds </source>
        <translation>%S - 会话名称；
%Y - 四位年份；%y - 两位年份；%M - 两位月份；%D - 两位日期；
%h - 两位小时；%m - 两位分钟；%s - 两位秒；%z - 三位毫秒 </translation>
    </message>
    <message>
        <source>Could not rotate log file &apos;%1&apos;: %2</source>
        <translation>无法轮转日志文件“%1”：%2</translation>
    </message>
    <message>
        <source>Please input correct log file name!</source>
        <translation>请输入正确的日志文件名！</translation>
    </message>
    <message>
        <source>Log path is a directory, not a file: %1</source>
        <translation>日志路径是一个文件夹，而不是文件：%1</translation>
    </message>
    <message>
        <source>Could not create log directory &apos;%1&apos;</source>
        <translation>无法创建日志文件夹“%1”</translation>
    </message>
    <message>
        <source>Could not open log file &apos;%1&apos;: %2</source>
        <translation>无法打开日志文件“%1”：%2</translation>
    </message>
    <message>
        <source>Could not write log file &apos;%1&apos;: %2</source>
        <translation>无法写入日志文件“%1”：%2</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>Quillon</source>
        <translation>Quillon</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>文件(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Connection</source>
        <translation>连接(&amp;C)</translation>
    </message>
    <message>
        <source>Cl&amp;oud</source>
        <translation>云(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>视图(&amp;V)</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>&amp;Tools</source>
        <translation>工具(&amp;T)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>帮助(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;Debug</source>
        <translation>调试(&amp;D)</translation>
    </message>
    <message>
        <source>Main Toolbar</source>
        <translation>主工具栏</translation>
    </message>
    <message>
        <source>New...</source>
        <translation>新建...</translation>
    </message>
    <message>
        <source>Open Settings...</source>
        <translation>打开配置...</translation>
    </message>
    <message>
        <source>Save Settings...</source>
        <translation>保存配置...</translation>
    </message>
    <message>
        <source>Save current config</source>
        <translation>保存当前配置</translation>
    </message>
    <message>
        <source>Ctrl+S</source>
        <translation>Ctrl+S</translation>
    </message>
    <message>
        <source>Save Settings As...</source>
        <translation>配置另存为...</translation>
    </message>
    <message>
        <source>Save current settings as new file</source>
        <translation>将当前配置另存为新文件</translation>
    </message>
    <message>
        <source>Log Recording</source>
        <translation>日志记录</translation>
    </message>
    <message>
        <source>Record all port messages as log files</source>
        <translation>将所有端口的数据记录到日志文件</translation>
    </message>
    <message>
        <source>View Current Data Log</source>
        <translation>查看当前数据日志</translation>
    </message>
    <message>
        <source>Open Log Folder</source>
        <translation>打开日志文件夹</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>开始</translation>
    </message>
    <message>
        <source>F5</source>
        <translation>F5</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>暂停</translation>
    </message>
    <message>
        <source>F6</source>
        <translation>F6</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>F7</source>
        <translation>F7</translation>
    </message>
    <message>
        <source>Add Port</source>
        <translation>添加端口</translation>
    </message>
    <message>
        <source>Remove Port</source>
        <translation>移除端口</translation>
    </message>
    <message>
        <source>Clear All Displays</source>
        <translation>清空所有显示</translation>
    </message>
    <message>
        <source>Ctrl+L</source>
        <translation>Ctrl+L</translation>
    </message>
    <message>
        <source>Clear All Send Histories</source>
        <translation>清空所有发送历史</translation>
    </message>
    <message>
        <source>Auto Restore Last Connection</source>
        <translation>自动恢复上次连接</translation>
    </message>
    <message>
        <source>Restore the connection that was open at last exit</source>
        <translation>恢复上次退出时打开的连接</translation>
    </message>
    <message>
        <source>Auto Reconnect</source>
        <translation>自动重连</translation>
    </message>
    <message>
        <source>Automatically reconnect after a serial unplug or TCP connection loss</source>
        <translation>串口拔出或 TCP 连接断开后自动重连</translation>
    </message>
    <message>
        <source>Send File...</source>
        <translation>发送文件...</translation>
    </message>
    <message>
        <source>Send a file to the device with XMODEM or YMODEM</source>
        <translation>用 XMODEM 或 YMODEM 向设备发送文件</translation>
    </message>
    <message>
        <source>Ctrl+Shift+S</source>
        <translation>Ctrl+Shift+S</translation>
    </message>
    <message>
        <source>Receive File...</source>
        <translation>接收文件...</translation>
    </message>
    <message>
        <source>Receive a file from the device with XMODEM or YMODEM</source>
        <translation>用 XMODEM 或 YMODEM 从设备接收文件</translation>
    </message>
    <message>
        <source>Ctrl+Shift+R</source>
        <translation>Ctrl+Shift+R</translation>
    </message>
    <message>
        <source>Cancel Transfer</source>
        <translation>取消传输</translation>
    </message>
    <message>
        <source>Sign In...</source>
        <translation>登录...</translation>
    </message>
    <message>
        <source>My Account</source>
        <translation>我的账户</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <translation>退出登录</translation>
    </message>
    <message>
        <source>Sync Now</source>
        <translation>立即同步</translation>
    </message>
    <message>
        <source>Sync Settings...</source>
        <translation>同步设置...</translation>
    </message>
    <message>
        <source>Cloud Console</source>
        <translation>Cloud Console</translation>
    </message>
    <message>
        <source>Allow Remote Send</source>
        <translation>允许远程发送</translation>
    </message>
    <message>
        <source>Allow Remote Port Control</source>
        <translation>允许远程控制端口</translation>
    </message>
    <message>
        <source>Horizontal</source>
        <translation>水平</translation>
    </message>
    <message>
        <source>Vertical</source>
        <translation>垂直</translation>
    </message>
    <message>
        <source>Grid</source>
        <translation>网格</translation>
    </message>
    <message>
        <source>Custom</source>
        <translation>自定义</translation>
    </message>
    <message>
        <source>Close Quick Settings</source>
        <translation>关闭快捷设置</translation>
    </message>
    <message>
        <source>Always On Top</source>
        <translation>窗口置顶</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>简体中文</translation>
    </message>
    <message>
        <source>Toolbox...</source>
        <translation>工具箱...</translation>
    </message>
    <message>
        <source>ASCII Code...</source>
        <translation>ASCII 码表...</translation>
    </message>
    <message>
        <source>Modbus Request Builder...</source>
        <translation>Modbus 请求生成器...</translation>
    </message>
    <message>
        <source>Bridges...</source>
        <translation>桥接...</translation>
    </message>
    <message>
        <source>Forward data between two ports (network to serial gateway)</source>
        <translation>在两个端口之间转发数据（网络转串口网关）</translation>
    </message>
    <message>
        <source>Options...</source>
        <translation>选项...</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Homepage</source>
        <translation>主页</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>New Connection</source>
        <translation>新建连接</translation>
    </message>
    <message>
        <source>Set Port Number Per Column</source>
        <translation>设置每列端口数</translation>
    </message>
    <message>
        <source>Port Number Per Column:</source>
        <translation>每列端口数：</translation>
    </message>
    <message>
        <source>At most %1 ports can be open in one window.</source>
        <translation>一个窗口最多只能打开 %1 个端口。</translation>
    </message>
    <message>
        <source>Port Number = %1</source>
        <translation>端口数 = %1</translation>
    </message>
    <message>
        <source>Serial Port %1 OPEN FAILED</source>
        <translation>串口 %1 打开失败</translation>
    </message>
    <message>
        <source>The connection that is open when you exit will be re-opened on the next launch.</source>
        <translation>退出时处于打开状态的连接将在下次启动时重新打开。</translation>
    </message>
    <message>
        <source>The document has been modified.
Do you want to save your changes?</source>
        <translation>文档已被修改。
是否保存更改？</translation>
    </message>
    <message>
        <source>Open Quillon</source>
        <translation>打开 Quillon 文件</translation>
    </message>
    <message>
        <source>Quillon files (*.qln)</source>
        <translation>Quillon 文件 (*.qln)</translation>
    </message>
    <message>
        <source>Save Quillon</source>
        <translation>保存 Quillon 文件</translation>
    </message>
    <message>
        <source>Could not save %1.</source>
        <translation>无法保存 %1。</translation>
    </message>
    <message>
        <source>File saved</source>
        <translation>文件已保存</translation>
    </message>
    <message>
        <source>Saving...</source>
        <translation>正在保存...</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Please input correct log file name!</source>
        <translation>请输入正确的日志文件名！</translation>
    </message>
    <message>
        <source>Current log file does not exist.</source>
        <translation>当前日志文件不存在。</translation>
    </message>
    <message>
        <source>Could not open current log file.</source>
        <translation>无法打开当前日志文件。</translation>
    </message>
    <message>
        <source>Current log folder does not exist.</source>
        <translation>当前日志文件夹不存在。</translation>
    </message>
    <message>
        <source>Open Quick Settings</source>
        <translation>打开快捷设置</translation>
    </message>
    <message>
        <source>The changes will take effect when the program is restarted.</source>
        <translation>更改将在程序重启后生效。</translation>
    </message>
    <message>
        <source>About Quillon</source>
        <translation>关于 Quillon</translation>
    </message>
    <message>
        <source>&lt;b&gt;Quillon&lt;/b&gt; %1&lt;br&gt;A terminal for serial ports and IP networks.</source>
        <translation>&lt;b&gt;Quillon&lt;/b&gt; %1&lt;br&gt;一款用于串口和 IP 网络的终端工具。</translation>
    </message>
    <message>
        <source>Rx: %L1 Bytes</source>
        <translation>接收：%L1 字节</translation>
    </message>
    <message>
        <source>Tx: %L1 Bytes</source>
        <translation>发送：%L1 字节</translation>
    </message>
    <message>
        <source>Note: this port appends a checksum on send; the Modbus frame already includes one.</source>
        <translation>注意：此端口发送时会追加校验，而 Modbus 帧本身已包含校验。</translation>
    </message>
    <message>
        <source>Note: this port appends a checksum on send; the inserted frame already includes its CRC.</source>
        <translation>注意：此端口发送时会追加校验，而插入的帧本身已包含 CRC。</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>账户</translation>
    </message>
    <message>
        <source>Cloud Console: a browser is watching</source>
        <translation>云控制台：有浏览器正在查看</translation>
    </message>
    <message>
        <source>Cloud Console: nobody is watching</source>
        <translation>云控制台：无人查看</translation>
    </message>
    <message>
        <source>Traffic this month: not known yet</source>
        <translation>本月流量：暂未知</translation>
    </message>
    <message>
        <source>Traffic this month: %1 up, no limit</source>
        <translation>本月流量：上传 %1，不限量</translation>
    </message>
    <message>
        <source>Traffic this month: %1 of %2 up</source>
        <translation>本月流量：已上传 %1 / %2</translation>
    </message>
    <message>
        <source>Signed in as %1.</source>
        <translation>已登录为 %1。</translation>
    </message>
    <message>
        <source>Month %1: uploaded %2, downloaded %3.</source>
        <translation>%1 月：上传 %2，下载 %3。</translation>
    </message>
    <message>
        <source>Upload left this month: %1.</source>
        <translation>本月剩余上传量：%1。</translation>
    </message>
    <message>
        <source>Cloud Console starts when you are signed in.</source>
        <translation>登录后云控制台将自动启动。</translation>
    </message>
    <message>
        <source>(not configured)</source>
        <translation>（未配置）</translation>
    </message>
</context>
<context>
    <name>ModbusBuilderDialog</name>
    <message>
        <source>Modbus Request Builder</source>
        <translation>Modbus 请求生成器</translation>
    </message>
    <message>
        <source>Protocol</source>
        <translation>协议</translation>
    </message>
    <message>
        <source>Modbus RTU</source>
        <translation>Modbus RTU</translation>
    </message>
    <message>
        <source>Modbus ASCII</source>
        <translation>Modbus ASCII</translation>
    </message>
    <message>
        <source>Slave ID</source>
        <translation>从站地址</translation>
    </message>
    <message>
        <source>0 is the broadcast address</source>
        <translation>0 为广播地址</translation>
    </message>
    <message>
        <source>Function</source>
        <translation>功能码</translation>
    </message>
    <message>
        <source>Start address</source>
        <translation>起始地址</translation>
    </message>
    <message>
        <source>Quantity</source>
        <translation>数量</translation>
    </message>
    <message>
        <source>Coil state</source>
        <translation>线圈状态</translation>
    </message>
    <message>
        <source>Values</source>
        <translation>数值</translation>
    </message>
    <message>
        <source>Request frame</source>
        <translation>请求帧</translation>
    </message>
    <message>
        <source>Copy HEX</source>
        <translation>复制 HEX</translation>
    </message>
    <message>
        <source>Insert to Send Area</source>
        <translation>插入到发送区</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>01  Read Coils</source>
        <translation>01  读线圈</translation>
    </message>
    <message>
        <source>02  Read Discrete Inputs</source>
        <translation>02  读离散输入</translation>
    </message>
    <message>
        <source>03  Read Holding Registers</source>
        <translation>03  读保持寄存器</translation>
    </message>
    <message>
        <source>04  Read Input Registers</source>
        <translation>04  读输入寄存器</translation>
    </message>
    <message>
        <source>05  Write Single Coil</source>
        <translation>05  写单个线圈</translation>
    </message>
    <message>
        <source>06  Write Single Register</source>
        <translation>06  写单个寄存器</translation>
    </message>
    <message>
        <source>0F  Write Multiple Coils</source>
        <translation>0F  写多个线圈</translation>
    </message>
    <message>
        <source>10  Write Multiple Registers</source>
        <translation>10  写多个寄存器</translation>
    </message>
    <message>
        <source>ON  (FF 00)</source>
        <translation>接通 (FF 00)</translation>
    </message>
    <message>
        <source>OFF (00 00)</source>
        <translation>断开 (00 00)</translation>
    </message>
    <message>
        <source>Register value in HEX, e.g. 00 0A</source>
        <translation>寄存器值（HEX），例如 00 0A</translation>
    </message>
    <message>
        <source>Register values in HEX, e.g. 000A 0102</source>
        <translation>寄存器值（HEX），例如 000A 0102</translation>
    </message>
    <message>
        <source>Coil states 0/1, e.g. 1 0 1 1</source>
        <translation>线圈状态 0/1，例如 1 0 1 1</translation>
    </message>
</context>
<context>
    <name>ModbusCodec</name>
    <message>
        <source>Slave ID must be between 0 and 247.</source>
        <translation>从站地址必须在 0 到 247 之间。</translation>
    </message>
    <message>
        <source>Unsupported function code 0x%1.</source>
        <translation>不支持的功能码 0x%1。</translation>
    </message>
    <message>
        <source>%1 must be between %2 and %3.</source>
        <translation>%1必须在 %2 到 %3 之间。</translation>
    </message>
    <message>
        <source>Coil count</source>
        <translation>线圈数量</translation>
    </message>
    <message>
        <source>Register count</source>
        <translation>寄存器数量</translation>
    </message>
    <message>
        <source>Address %1 plus count %2 exceeds the 65536 address space.</source>
        <translation>地址 %1 加数量 %2 超出了 65536 的地址空间。</translation>
    </message>
    <message>
        <source>Write Single Coil needs exactly one value.</source>
        <translation>写单个线圈需要且只需要一个值。</translation>
    </message>
    <message>
        <source>Write Single Register needs exactly one value.</source>
        <translation>写单个寄存器需要且只需要一个值。</translation>
    </message>
    <message>
        <source>Coil states must be 0 or 1, got &quot;%1&quot;.</source>
        <translation>线圈状态必须为 0 或 1，实际为“%1”。</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not a 16-bit HEX value.</source>
        <translation>“%1”不是 16 位十六进制数值。</translation>
    </message>
    <message>
        <source>Write Single Register takes exactly one value.</source>
        <translation>写单个寄存器只能接受一个值。</translation>
    </message>
</context>
<context>
    <name>MultiClientServer</name>
    <message>
        <source>not on the address allowlist</source>
        <translation>不在地址白名单中</translation>
    </message>
    <message>
        <source>the port already has a client (exclusive mode)</source>
        <translation>该端口已有客户端（独占模式）</translation>
    </message>
</context>
<context>
    <name>MultiPortSettingDlg</name>
    <message>
        <source>Option</source>
        <translation>选项</translation>
    </message>
    <message>
        <source>Restore Defaults...</source>
        <translation>恢复默认设置...</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
    <message>
        <source>Quick Settings</source>
        <translation>快捷设置</translation>
    </message>
    <message>
        <source>Connection %1</source>
        <translation>连接 %1</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Select at least one quick settings group to show.</source>
        <translation>请至少选择一个要显示的快捷设置组。</translation>
    </message>
    <message>
        <source>Restore all connection, receive, send, log, display and quick-settings options to their defaults?

Your account, saved settings files and log files are not changed. Active connections are stopped when you press OK; Cancel still discards the change.</source>
        <translation>将所有连接、接收、发送、日志、显示和快捷设置选项恢复为默认值？

您的账户、已保存的配置文件和日志文件不会改变。按“确定”后，活动连接将被停止；按“取消”仍可放弃此更改。</translation>
    </message>
    <message>
        <source>Restore Default Settings</source>
        <translation>恢复默认设置</translation>
    </message>
</context>
<context>
    <name>NetworkServices</name>
    <message>
        <source>The server does not offer this feature yet. The service may be under maintenance or being upgraded; please try again later or check for a newer version.</source>
        <translation>服务器暂不提供此功能。服务可能正在维护或升级，请稍后重试或检查是否有新版本。</translation>
    </message>
    <message>
        <source>The server declined the request. Please sign in again and retry.</source>
        <translation>服务器拒绝了请求，请重新登录后重试。</translation>
    </message>
    <message>
        <source>The server encountered an internal error. Please try again later.</source>
        <translation>服务器内部错误，请稍后重试。</translation>
    </message>
    <message>
        <source>The server rejected the request (HTTP %1). Please try again later.</source>
        <translation>服务器拒绝了请求（HTTP %1），请稍后重试。</translation>
    </message>
    <message>
        <source>The server returned an unexpected response. Please try again later.</source>
        <translation>服务器返回了意外的响应，请稍后重试。</translation>
    </message>
    <message>
        <source>The server did not respond in time. Please check your network connection and try again.</source>
        <translation>服务器未及时响应，请检查网络连接后重试。</translation>
    </message>
    <message>
        <source>A secure connection to the server could not be established. Please check your network environment.</source>
        <translation>无法与服务器建立安全连接，请检查网络环境。</translation>
    </message>
    <message>
        <source>The proxy server could not be reached. Please check your proxy settings.</source>
        <translation>无法连接代理服务器，请检查代理设置。</translation>
    </message>
    <message>
        <source>Could not connect to the server. Please check your network connection and try again.</source>
        <translation>无法连接服务器，请检查网络连接后重试。</translation>
    </message>
</context>
<context>
    <name>NewConnection</name>
    <message>
        <source>New Connection</source>
        <translation>新建连接</translation>
    </message>
    <message>
        <source>Choose the kind of connection to add:</source>
        <translation>选择要添加的连接类型：</translation>
    </message>
    <message>
        <source>Serial Port</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>TCP/IP</source>
        <translation>TCP/IP</translation>
    </message>
    <message>
        <source>Bridge (network to serial)</source>
        <translation>桥接（网络转串口）</translation>
    </message>
</context>
<context>
    <name>PortLease</name>
    <message>
        <source>A file transfer is already running on this port.</source>
        <translation>此端口上已有文件传输正在进行。</translation>
    </message>
    <message>
        <source>This port is part of a bridge link. Remove the link before transferring a file.</source>
        <translation>此端口属于一个桥接。请先删除该桥接再传输文件。</translation>
    </message>
    <message>
        <source>A file transfer is running.</source>
        <translation>文件传输正在进行。</translation>
    </message>
    <message>
        <source>A file transfer is using this port. Sending data now would corrupt it.</source>
        <translation>此端口正在进行文件传输，此时发送数据会破坏传输。</translation>
    </message>
    <message>
        <source>A file transfer is using this port. Changing the control lines would interrupt it.</source>
        <translation>此端口正在进行文件传输，更改控制线会中断传输。</translation>
    </message>
    <message>
        <source>A file transfer is using this port. Changing the port settings would reopen it and end the transfer.</source>
        <translation>此端口正在进行文件传输，更改端口设置会重新打开端口并终止传输。</translation>
    </message>
    <message>
        <source>A file transfer is running; the view cannot be paused.</source>
        <translation>文件传输正在进行，无法暂停显示。</translation>
    </message>
</context>
<context>
    <name>PortSession</name>
    <message>
        <source>Please input correct log file name!</source>
        <translation>请输入正确的日志文件名！</translation>
    </message>
</context>
<context>
    <name>PortTransfer</name>
    <message>
        <source>A file transfer is already running on this port.</source>
        <translation>此端口上已有文件传输正在进行。</translation>
    </message>
    <message>
        <source>The connection is not open.</source>
        <translation>连接未打开。</translation>
    </message>
    <message>
        <source>File transfer needs an ordered, reliable connection. UDP cannot provide one.</source>
        <translation>文件传输需要有序、可靠的连接，UDP 无法提供。</translation>
    </message>
    <message>
        <source>This port is part of a bridge link. Remove the link before transferring a file.</source>
        <translation>此端口属于一个桥接链路。请先移除该链路再传输文件。</translation>
    </message>
    <message>
        <source>The view is paused. Resume it before transferring a file.</source>
        <translation>显示已暂停。请先恢复显示再传输文件。</translation>
    </message>
    <message>
        <source>No client is connected yet.</source>
        <translation>尚无客户端连接。</translation>
    </message>
    <message>
        <source>Several clients are connected. Select the one to transfer with.</source>
        <translation>已有多个客户端连接。请选择要与之传输的客户端。</translation>
    </message>
    <message>
        <source>YMODEM-G does not retransmit, so it needs hardware flow control (RTS/CTS). This connection has none.</source>
        <translation>YMODEM-G 不会重传，因此需要硬件流控（RTS/CTS）。此连接没有硬件流控。</translation>
    </message>
    <message>
        <source>The selected client is no longer connected.</source>
        <translation>所选客户端已断开连接。</translation>
    </message>
</context>
<context>
    <name>PortTransport</name>
    <message>
        <source>The socket is performing a host name lookup.</source>
        <translation>套接字正在解析主机名。</translation>
    </message>
    <message>
        <source>The socket has started establishing a connection...</source>
        <translation>套接字已开始建立连接...</translation>
    </message>
    <message>
        <source>Connection is established.</source>
        <translation>连接已建立。</translation>
    </message>
    <message>
        <source>The socket is bound to an address and port.</source>
        <translation>套接字已绑定到地址和端口。</translation>
    </message>
    <message>
        <source>The socket is about to close (data may still be waiting to be written).</source>
        <translation>套接字即将关闭（可能仍有数据等待写出）。</translation>
    </message>
    <message>
        <source>For internal use only.</source>
        <translation>仅供内部使用。</translation>
    </message>
    <message>
        <source>The socket is not connected</source>
        <translation>套接字未连接</translation>
    </message>
    <message>
        <source>Serial Port %1 RECONNECTED</source>
        <translation>串口 %1 已重新连接</translation>
    </message>
    <message>
        <source>Serial Port %1 lost, waiting for it to come back...</source>
        <translation>串口 %1 已丢失，正在等待其恢复...</translation>
    </message>
    <message>
        <source>Connection lost, reconnecting...</source>
        <translation>连接已断开，正在重连...</translation>
    </message>
    <message>
        <source>Reconnecting to %1:%2 ...</source>
        <translation>正在重连 %1:%2 ...</translation>
    </message>
    <message>
        <source>TCP connection RESTORED</source>
        <translation>TCP 连接已恢复</translation>
    </message>
    <message>
        <source>The remote peer did not accept RFC 2217 com-port control, so Break cannot be sent.</source>
        <translation>远程对端未接受 RFC 2217 串口控制，无法发送 Break。</translation>
    </message>
    <message>
        <source>Could not send Break: the connection is not open.</source>
        <translation>无法发送 Break：连接未打开。</translation>
    </message>
    <message>
        <source>Sent Break to the remote port; it is released when you let go.</source>
        <translation>已向远程端口发送 Break；松开后解除。</translation>
    </message>
    <message>
        <source>The remote peer did not accept RFC 2217 com-port control, so %1 cannot be set from here.</source>
        <translation>远程对端未接受 RFC 2217 串口控制，无法在此设置 %1。</translation>
    </message>
    <message>
        <source>Asked the remote port for %1 %2; the lamp turns green when the server confirms it.</source>
        <translation>已请求远程端口将 %1 设为%2；服务器确认后指示灯变绿。</translation>
    </message>
    <message>
        <source>high</source>
        <translation>高电平</translation>
    </message>
    <message>
        <source>low</source>
        <translation>低电平</translation>
    </message>
    <message>
        <source>Waiting for Connections on %1:%2...</source>
        <translation>正在 %1:%2 上等待连接...</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>Listening on %1:%2</source>
        <translation>正在监听 %1:%2</translation>
    </message>
    <message>
        <source>UDP socket is bound to %1:%2.</source>
        <translation>UDP 套接字已绑定到 %1:%2。</translation>
    </message>
</context>
<context>
    <name>QuickSettingsEditor</name>
    <message>
        <source>Choose the groups and fields to show, and arrange their order.</source>
        <translation>选择要显示的分组和字段，并调整它们的顺序。</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置项</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>说明</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>上移</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>下移</translation>
    </message>
    <message>
        <source>Connection Settings</source>
        <translation>连接设置</translation>
    </message>
    <message>
        <source>Port and connection parameters</source>
        <translation>端口与连接参数</translation>
    </message>
    <message>
        <source>Baudrate</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>Serial transfer speed</source>
        <translation>串口传输速率</translation>
    </message>
    <message>
        <source>Data Bits</source>
        <translation>数据位</translation>
    </message>
    <message>
        <source>Data bits per frame</source>
        <translation>每帧的数据位数</translation>
    </message>
    <message>
        <source>Parity</source>
        <translation>校验位</translation>
    </message>
    <message>
        <source>Parity check mode</source>
        <translation>校验方式</translation>
    </message>
    <message>
        <source>Stop Bits</source>
        <translation>停止位</translation>
    </message>
    <message>
        <source>Stop bits per frame</source>
        <translation>每帧的停止位数</translation>
    </message>
    <message>
        <source>Flow Type</source>
        <translation>流控</translation>
    </message>
    <message>
        <source>Flow control method</source>
        <translation>流控方式</translation>
    </message>
    <message>
        <source>Receive Settings</source>
        <translation>接收设置</translation>
    </message>
    <message>
        <source>How received data is shown</source>
        <translation>接收数据的显示方式</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>格式</translation>
    </message>
    <message>
        <source>Show received data as text or hex, and the encoding to read it with</source>
        <translation>以文本或十六进制显示接收数据，以及解码所用的编码</translation>
    </message>
    <message>
        <source>Auto Line Feed</source>
        <translation>自动换行</translation>
    </message>
    <message>
        <source>Start a new line after an idle interval</source>
        <translation>空闲一段时间后另起一行</translation>
    </message>
    <message>
        <source>Display Time</source>
        <translation>显示时间</translation>
    </message>
    <message>
        <source>Prefix received data with a timestamp</source>
        <translation>在接收数据前加上时间戳</translation>
    </message>
    <message>
        <source>Send Settings</source>
        <translation>发送设置</translation>
    </message>
    <message>
        <source>How data is sent</source>
        <translation>数据的发送方式</translation>
    </message>
    <message>
        <source>Send the input as text or hex, and the encoding to send it with</source>
        <translation>以文本或十六进制发送输入内容，以及发送所用的编码</translation>
    </message>
    <message>
        <source>Loop Send</source>
        <translation>循环发送</translation>
    </message>
    <message>
        <source>Resend automatically at an interval</source>
        <translation>按固定间隔自动重复发送</translation>
    </message>
    <message>
        <source>Append Line Ending</source>
        <translation>追加行尾</translation>
    </message>
    <message>
        <source>Ending appended to each send</source>
        <translation>每次发送时追加的行尾</translation>
    </message>
    <message>
        <source>Enter Sends</source>
        <translation>回车发送</translation>
    </message>
    <message>
        <source>Bytes sent when Enter is pressed in the receive terminal</source>
        <translation>在接收终端中按回车键时发送的字节</translation>
    </message>
    <message>
        <source>Append Checksum</source>
        <translation>追加校验</translation>
    </message>
    <message>
        <source>Checksum appended to each send</source>
        <translation>每次发送时追加的校验</translation>
    </message>
    <message>
        <source>Display Send</source>
        <translation>显示发送</translation>
    </message>
    <message>
        <source>Echo sent data in the display</source>
        <translation>在显示区回显已发送的数据</translation>
    </message>
    <message>
        <source>Line by Line</source>
        <translation>逐行发送</translation>
    </message>
    <message>
        <source>Send multi-line input line by line</source>
        <translation>将多行输入逐行发送</translation>
    </message>
</context>
<context>
    <name>ReceiveFindBar</name>
    <message>
        <source>%1/%2</source>
        <translation>%1/%2</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>查找</translation>
    </message>
    <message>
        <source>Keyword</source>
        <translation>关键字</translation>
    </message>
    <message>
        <source>Prev</source>
        <translation>上一个</translation>
    </message>
    <message>
        <source>Previous match (Shift+F3)</source>
        <translation>上一个匹配 (Shift+F3)</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>下一个</translation>
    </message>
    <message>
        <source>Next match (F3)</source>
        <translation>下一个匹配 (F3)</translation>
    </message>
    <message>
        <source>Case</source>
        <translation>区分大小写</translation>
    </message>
    <message>
        <source>Filter</source>
        <translation>过滤</translation>
    </message>
    <message>
        <source>Close (Esc)</source>
        <translation>关闭 (Esc)</translation>
    </message>
</context>
<context>
    <name>ReceivePipeline</name>
    <message>
        <source>%L1 bytes not shown here; they are in the data log.</source>
        <translation>此处有 %L1 字节未显示；它们已记录在数据日志中。</translation>
    </message>
    <message>
        <source>%L1 bytes not shown here; the data log is off.</source>
        <translation>此处有 %L1 字节未显示；数据日志未开启。</translation>
    </message>
</context>
<context>
    <name>RecentFilesModel</name>
    <message>
        <source>&amp;%1 %2</source>
        <translation>&amp;%1 %2</translation>
    </message>
</context>
<context>
    <name>Rfc2217ClientSession</name>
    <message>
        <source>The remote port accepted serial parameter control.</source>
        <translation>远程端口已接受串口参数控制。</translation>
    </message>
    <message>
        <source>The remote port is now at %1 baud.</source>
        <translation>远程端口的波特率现为 %1。</translation>
    </message>
    <message>
        <source>The remote does not support serial parameter control; continuing as plain Telnet.</source>
        <translation>远程端不支持串口参数控制，将以普通 Telnet 方式继续。</translation>
    </message>
    <message>
        <source>The remote is not an RFC 2217 server; continuing as transparent TCP. The handshake bytes may have reached the remote serial line.</source>
        <translation>远程端不是 RFC 2217 服务器，将以透明 TCP 方式继续。握手字节可能已经发送到远程串口线路上。</translation>
    </message>
</context>
<context>
    <name>SerialPortWidget</name>
    <message>
        <source>Receive Setting</source>
        <translation>接收设置</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>文本</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>Character encoding used to read the bytes arriving from the device. Log files are always written as UTF-8.</source>
        <translation>用于解读设备发来的字节的字符编码。日志文件始终以 UTF-8 写入。</translation>
    </message>
    <message>
        <source>Auto FL</source>
        <translation>自动换行</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>毫秒</translation>
    </message>
    <message>
        <source>Display Time</source>
        <translation>显示时间</translation>
    </message>
    <message>
        <source>Send Setting</source>
        <translation>发送设置</translation>
    </message>
    <message>
        <source>Character encoding used for the bytes sent to the device. Log files are always written as UTF-8.</source>
        <translation>发送给设备的字节所用的字符编码。日志文件始终以 UTF-8 写入。</translation>
    </message>
    <message>
        <source>Loop</source>
        <translation>循环</translation>
    </message>
    <message>
        <source>Append Line Ending</source>
        <translation>追加行尾</translation>
    </message>
    <message>
        <source>Enter Sends</source>
        <translation>回车发送</translation>
    </message>
    <message>
        <source>Bytes sent when Enter is pressed in the receive terminal</source>
        <translation>在接收终端中按回车键时发送的字节</translation>
    </message>
    <message>
        <source>Append Checksum</source>
        <translation>追加校验</translation>
    </message>
    <message>
        <source>Checksum appended automatically after each sent frame</source>
        <translation>每发送一帧后自动追加的校验</translation>
    </message>
    <message>
        <source>Display Send</source>
        <translation>显示发送</translation>
    </message>
    <message>
        <source>Line by Line</source>
        <translation>逐行</translation>
    </message>
    <message>
        <source>Peer</source>
        <translation>对端</translation>
    </message>
    <message>
        <source>Live control-line levels while the port is open. Some USB serial adapters do not report the input lines.</source>
        <translation>端口打开时控制线的实时电平。部分 USB 转串口适配器不上报输入线状态。</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>Ctrl + Enter</source>
        <translation>Ctrl + Enter</translation>
    </message>
    <message>
        <source>Ctrl+Return</source>
        <translation>Ctrl+Return</translation>
    </message>
    <message>
        <source>Find...</source>
        <translation>查找...</translation>
    </message>
    <message>
        <source>Rx: %L1 Bytes</source>
        <translation>接收：%L1 字节</translation>
    </message>
    <message>
        <source>Tx: %L1 Bytes</source>
        <translation>发送：%L1 字节</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>None</source>
        <translation>无</translation>
    </message>
</context>
<context>
    <name>SetConfigFilePathDialog</name>
    <message>
        <source>Quillon</source>
        <translation>Quillon</translation>
    </message>
    <message>
        <source>This is the first time that you have run this version of Quillon. Quillon needs to set a folder where configuration data can be stored.</source>
        <translation>这是您第一次运行此版本的 Quillon。Quillon 需要设置一个用于存放配置数据的文件夹。</translation>
    </message>
    <message>
        <source>Please specify a folder below.</source>
        <translation>请在下方指定一个文件夹。</translation>
    </message>
    <message>
        <source>Pressing Cancel will end the application without setting the configuration folder.</source>
        <translation>按“取消”将不设置配置文件夹并退出程序。</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
</context>
<context>
    <name>SettingsPanel</name>
    <message>
        <source>Connection</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Control Lines</source>
        <translation>控制线</translation>
    </message>
    <message>
        <source>DTR</source>
        <translation>DTR</translation>
    </message>
    <message>
        <source>Set the DTR output now, or apply it when the port opens</source>
        <translation>立即设置 DTR 输出，或在端口打开时应用</translation>
    </message>
    <message>
        <source>RTS</source>
        <translation>RTS</translation>
    </message>
    <message>
        <source>Set the RTS output now, or apply it when the port opens</source>
        <translation>立即设置 RTS 输出，或在端口打开时应用</translation>
    </message>
    <message>
        <source>Receive</source>
        <translation>接收</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>文本</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>Encoding:</source>
        <translation>编码：</translation>
    </message>
    <message>
        <source>Character encoding used to read the bytes arriving from the device. Log files are always written as UTF-8.</source>
        <translation>用于解读设备发来的字节的字符编码。日志文件始终以 UTF-8 写入。</translation>
    </message>
    <message>
        <source>Auto feed ending</source>
        <translation>自动换行</translation>
    </message>
    <message>
        <source>Minimal Interval:</source>
        <translation>最小间隔：</translation>
    </message>
    <message>
        <source> ms</source>
        <translation> 毫秒</translation>
    </message>
    <message>
        <source>Line Mode:</source>
        <translation>行模式：</translation>
    </message>
    <message>
        <source>Display Time</source>
        <translation>显示时间</translation>
    </message>
    <message>
        <source>Rx Time Format:</source>
        <translation>接收时间格式：</translation>
    </message>
    <message>
        <source>[22:55:59.987]</source>
        <translation>[22:55:59.987]</translation>
    </message>
    <message>
        <source>Tx Time Format:</source>
        <translation>发送时间格式：</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>Character encoding used for the bytes sent to the device. Log files are always written as UTF-8.</source>
        <translation>发送给设备的字节所用的字符编码。日志文件始终以 UTF-8 写入。</translation>
    </message>
    <message>
        <source>Loop</source>
        <translation>循环</translation>
    </message>
    <message>
        <source>Append Line Ending</source>
        <translation>追加行尾</translation>
    </message>
    <message>
        <source>Enter Sends</source>
        <translation>回车发送</translation>
    </message>
    <message>
        <source>Bytes sent when Enter is pressed in the receive terminal</source>
        <translation>在接收终端中按回车键时发送的字节</translation>
    </message>
    <message>
        <source>Display Send</source>
        <translation>显示发送</translation>
    </message>
    <message>
        <source>Comment Support</source>
        <translation>支持注释</translation>
    </message>
    <message>
        <source>Format Send</source>
        <translation>格式化发送</translation>
    </message>
    <message>
        <source>Append Checksum</source>
        <translation>追加校验</translation>
    </message>
    <message>
        <source>Checksum appended automatically after each sent frame</source>
        <translation>每发送一帧后自动追加的校验</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>日志</translation>
    </message>
    <message>
        <source>Save Log Message</source>
        <translation>保存日志</translation>
    </message>
    <message>
        <source>Log File Name</source>
        <translation>日志文件名</translation>
    </message>
    <message>
        <source>Log file name</source>
        <translation>日志文件名</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Log file name result:</source>
        <translation>日志文件名结果：</translation>
    </message>
    <message>
        <source>Options</source>
        <translation>选项</translation>
    </message>
    <message>
        <source>Append to file</source>
        <translation>追加到文件</translation>
    </message>
    <message>
        <source>Overwrite file</source>
        <translation>覆盖文件</translation>
    </message>
    <message>
        <source>Prompt for filename</source>
        <translation>提示输入文件名</translation>
    </message>
    <message>
        <source>Start log upon connect</source>
        <translation>连接时开始记录日志</translation>
    </message>
    <message>
        <source>Timestamp each line</source>
        <translation>每行加时间戳</translation>
    </message>
    <message>
        <source>Timestamp</source>
        <translation>时间戳</translation>
    </message>
    <message>
        <source>Timestamp line each hour</source>
        <translation>每小时写入一行时间戳</translation>
    </message>
    <message>
        <source>Start new log at rotate time</source>
        <translation>到达轮转时间时新建日志</translation>
    </message>
    <message>
        <source>HH:mm:ss</source>
        <translation>HH:mm:ss</translation>
    </message>
    <message>
        <source>(must use %D in log file name)</source>
        <translation>（日志文件名中必须使用 %D）</translation>
    </message>
    <message>
        <source>Start new log at rotate size</source>
        <translation>达到轮转大小时新建日志</translation>
    </message>
    <message>
        <source> MiB</source>
        <translation> MiB</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>显示</translation>
    </message>
    <message>
        <source>Font</source>
        <translation>字体</translation>
    </message>
    <message>
        <source>Font...</source>
        <translation>字体...</translation>
    </message>
    <message>
        <source>Send Text Color</source>
        <translation>发送文本颜色</translation>
    </message>
    <message>
        <source>Color...</source>
        <translation>颜色...</translation>
    </message>
    <message>
        <source>Receive Text Color</source>
        <translation>接收文本颜色</translation>
    </message>
    <message>
        <source>Format Display Color</source>
        <translation>格式化显示颜色</translation>
    </message>
    <message>
        <source>Display Buffer Size</source>
        <translation>显示缓冲区大小</translation>
    </message>
    <message>
        <source>Show TX/RX and control line indicators</source>
        <translation>显示 TX/RX 和控制线指示灯</translation>
    </message>
    <message>
        <source>Show the TX/RX activity and RTS/CTS/DTR/DSR/DCD/RI control-line lights in the connection settings group; the control lines appear for serial connections only</source>
        <translation>在连接设置组中显示 TX/RX 活动指示灯和 RTS/CTS/DTR/DSR/DCD/RI 控制线指示灯；控制线仅对串口连接显示</translation>
    </message>
    <message>
        <source>Custom</source>
        <translation>自定义</translation>
    </message>
    <message>
        <source>Please input correct log file name!</source>
        <translation>请输入正确的日志文件名！</translation>
    </message>
    <message>
        <source>Select Log File</source>
        <translation>选择日志文件</translation>
    </message>
    <message>
        <source>Log files (*.log);;All files (*.*);;Text files (*.txt)</source>
        <translation>日志文件 (*.log);;所有文件 (*.*);;文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>None</source>
        <translation>无</translation>
    </message>
    <message>
        <source>Even</source>
        <translation>偶校验</translation>
    </message>
    <message>
        <source>Odd</source>
        <translation>奇校验</translation>
    </message>
    <message>
        <source>Mark</source>
        <translation>标记校验</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>空格校验</translation>
    </message>
    <message>
        <source>TCP Client</source>
        <translation>TCP 客户端</translation>
    </message>
    <message>
        <source>TCP Server</source>
        <translation>TCP 服务器</translation>
    </message>
    <message>
        <source>UDP Client</source>
        <translation>UDP 客户端</translation>
    </message>
    <message>
        <source>UDP Server</source>
        <translation>UDP 服务器</translation>
    </message>
    <message>
        <source>Any</source>
        <translation>任意地址</translation>
    </message>
    <message>
        <source>AnyIPv4</source>
        <translation>任意 IPv4 地址</translation>
    </message>
    <message>
        <source>LocalHost</source>
        <translation>本机</translation>
    </message>
    <message>
        <source>LocalHostIPv6</source>
        <translation>本机 IPv6</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>毫秒</translation>
    </message>
    <message>
        <source>s</source>
        <translation>秒</translation>
    </message>
    <message>
        <source>min</source>
        <translation>分钟</translation>
    </message>
    <message>
        <source>UDP Group</source>
        <translation>UDP 组播</translation>
    </message>
</context>
<context>
    <name>SettingsSync</name>
    <message>
        <source>Please sign in to sync settings.</source>
        <translation>请先登录再同步设置。</translation>
    </message>
    <message>
        <source>Syncing...</source>
        <translation>正在同步...</translation>
    </message>
    <message>
        <source>Cloud settings are not compatible.</source>
        <translation>云端设置不兼容。</translation>
    </message>
    <message>
        <source>Settings synced</source>
        <translation>设置已同步</translation>
    </message>
    <message>
        <source>Sync failed.</source>
        <translation>同步失败。</translation>
    </message>
    <message>
        <source>Cloud settings changed; use Sync Now to resolve.</source>
        <translation>云端设置已变更，请使用“立即同步”处理。</translation>
    </message>
    <message>
        <source>Cloud settings applied</source>
        <translation>已应用云端设置</translation>
    </message>
</context>
<context>
    <name>SyncSettingsDialog</name>
    <message>
        <source>Sync Settings</source>
        <translation>同步设置</translation>
    </message>
    <message>
        <source>Sync send history</source>
        <translation>同步发送历史</translation>
    </message>
    <message>
        <source>Sync automatically</source>
        <translation>自动同步</translation>
    </message>
    <message>
        <source>Auto sync interval</source>
        <translation>自动同步间隔</translation>
    </message>
    <message>
        <source> min</source>
        <translation> 分钟</translation>
    </message>
    <message>
        <source>Cloud settings are different from this computer.</source>
        <translation>云端设置与本机不同。</translation>
    </message>
    <message>
        <source>Choose which settings to keep for this manual sync.</source>
        <translation>请选择本次手动同步要保留的设置。</translation>
    </message>
    <message>
        <source>Use Cloud</source>
        <translation>使用云端</translation>
    </message>
    <message>
        <source>Keep Local</source>
        <translation>保留本地</translation>
    </message>
    <message>
        <source>Merge Lists</source>
        <translation>合并列表</translation>
    </message>
</context>
<context>
    <name>ToolBox</name>
    <message>
        <source>Width must be between 1 and 64.</source>
        <translation>宽度必须在 1 到 64 之间。</translation>
    </message>
    <message>
        <source>Polynomial</source>
        <translation>多项式</translation>
    </message>
    <message>
        <source>Initial value</source>
        <translation>初始值</translation>
    </message>
    <message>
        <source>Final XOR</source>
        <translation>结果异或值</translation>
    </message>
    <message>
        <source>%1 must be a hexadecimal value that fits the width.</source>
        <translation>%1必须是不超出宽度的十六进制数值。</translation>
    </message>
    <message>
        <source>Polynomial must not be zero.</source>
        <translation>多项式不能为零。</translation>
    </message>
    <message>
        <source>Toolbox</source>
        <translation>工具箱</translation>
    </message>
    <message>
        <source>Converter</source>
        <translation>转换器</translation>
    </message>
    <message>
        <source>Input</source>
        <translation>输入</translation>
    </message>
    <message>
        <source>Hex to Text</source>
        <translation>HEX 转文本</translation>
    </message>
    <message>
        <source>Always UTF-8. This tool is independent of the encoding a port is configured with.</source>
        <translation>始终使用 UTF-8。本工具与端口配置的编码无关。</translation>
    </message>
    <message>
        <source>Text to Hex</source>
        <translation>文本转 HEX</translation>
    </message>
    <message>
        <source>Output</source>
        <translation>输出</translation>
    </message>
    <message>
        <source>Copy Output</source>
        <translation>复制输出</translation>
    </message>
    <message>
        <source>CRC Calculator</source>
        <translation>CRC 计算器</translation>
    </message>
    <message>
        <source>Input format</source>
        <translation>输入格式</translation>
    </message>
    <message>
        <source>Text (UTF-8)</source>
        <translation>文本 (UTF-8)</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>Parameters</source>
        <translation>参数</translation>
    </message>
    <message>
        <source>Algorithm</source>
        <translation>算法</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>宽度</translation>
    </message>
    <message>
        <source>Polynomial (hex)</source>
        <translation>多项式 (hex)</translation>
    </message>
    <message>
        <source>Initial value (hex)</source>
        <translation>初始值 (hex)</translation>
    </message>
    <message>
        <source>Final XOR (hex)</source>
        <translation>结果异或值 (hex)</translation>
    </message>
    <message>
        <source>Reflect input</source>
        <translation>输入反转</translation>
    </message>
    <message>
        <source>Reflect output</source>
        <translation>输出反转</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>结果</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>值</translation>
    </message>
    <message>
        <source>Base</source>
        <translation>进制</translation>
    </message>
    <message>
        <source>Dec</source>
        <translation>十进制</translation>
    </message>
    <message>
        <source>Oct</source>
        <translation>八进制</translation>
    </message>
    <message>
        <source>Bin</source>
        <translation>二进制</translation>
    </message>
    <message>
        <source>Copy Value</source>
        <translation>复制数值</translation>
    </message>
    <message>
        <source>Wire bytes</source>
        <translation>发送字节</translation>
    </message>
    <message>
        <source>Byte order</source>
        <translation>字节序</translation>
    </message>
    <message>
        <source>Big-endian</source>
        <translation>大端</translation>
    </message>
    <message>
        <source>Little-endian</source>
        <translation>小端</translation>
    </message>
    <message>
        <source>Copy Bytes</source>
        <translation>复制字节</translation>
    </message>
    <message>
        <source>Insert Frame into Send</source>
        <translation>插入帧到发送区</translation>
    </message>
    <message>
        <source>Calculate</source>
        <translation>计算</translation>
    </message>
    <message>
        <source>Invalid hex character at position %1.</source>
        <translation>第 %1 个字符不是有效的十六进制字符。</translation>
    </message>
    <message>
        <source>Hex input must contain complete bytes.</source>
        <translation>十六进制输入必须由完整的字节组成。</translation>
    </message>
    <message>
        <source>Custom</source>
        <translation>自定义</translation>
    </message>
    <message>
        <source>%1 byte(s) are not valid UTF-8 and are shown as U+FFFD; the first is byte %2.</source>
        <translation>有 %1 个字节不是有效的 UTF-8，显示为 U+FFFD；第一个是第 %2 个字节。</translation>
    </message>
</context>
<context>
    <name>TransferCommand</name>
    <message>
        <source>Try quillon-transfer --help.</source>
        <translation>请运行 quillon-transfer --help 查看用法。</translation>
    </message>
    <message>
        <source>Usage:
  quillon-transfer send [options] FILE
  quillon-transfer receive [options] [FOLDER]

Sends or receives one file with XMODEM or YMODEM over a serial port, a TCP
connection or an RFC 2217 remote serial port.

Options:
  --port PORT        a device path (/dev/ttyUSB0, COM3), tcp:HOST:PORT or
                     rfc2217:HOST:PORT; required
  --baud N           baud rate of a serial or RFC 2217 port (default 115200)
  --flow MODE        none, rtscts or xonxoff (default none); YMODEM-G on a
                     serial port needs rtscts
  --protocol NAME    xmodem, xmodem-crc, xmodem-1k, ymodem or ymodem-g
                     (default ymodem)
  --name NAME        the file name for an XMODEM receive (default received.bin)
  --max-size MIB     stop receiving above this many MiB, 0 = no limit
                     (default 100)
  --quiet            print nothing but errors
  --help             show this text

FOLDER is the current folder when left out. On a terminal a progress line
shows the bytes, the rate, the time left and the retries; otherwise only
the summary is printed.

Exit status:
  0  the file was transferred
  1  bad command line
  2  the port cannot be opened, or the connection was lost
  3  the device cancelled the transfer (or Ctrl+C here)
  4  timeout or too many retries
  5  file error: the file cannot be read, the folder cannot be written,
     or the file is over the size limit
</source>
        <translation>用法：
  quillon-transfer send [选项] FILE
  quillon-transfer receive [选项] [FOLDER]

通过串口、TCP 连接或 RFC 2217 远程串口，用 XMODEM 或 YMODEM
发送或接收一个文件。

选项：
  --port PORT        设备路径（/dev/ttyUSB0、COM3）、tcp:HOST:PORT 或
                     rfc2217:HOST:PORT；必填
  --baud N           串口或 RFC 2217 端口的波特率（默认 115200）
  --flow MODE        none、rtscts 或 xonxoff（默认 none）；串口上的
                     YMODEM-G 需要 rtscts
  --protocol NAME    xmodem、xmodem-crc、xmodem-1k、ymodem 或 ymodem-g
                     （默认 ymodem）
  --name NAME        XMODEM 接收时的文件名（默认 received.bin）
  --max-size MIB     接收超过这么多 MiB 时停止，0 表示不限
                     （默认 100）
  --quiet            除错误外不输出任何内容
  --help             显示本说明

省略 FOLDER 时使用当前文件夹。在终端上会显示一行进度：
字节数、速率、剩余时间和重试次数；
否则只输出摘要。

退出状态：
  0  文件已传输
  1  命令行有误
  2  无法打开端口，或连接已丢失
  3  设备取消了传输（或在此按了 Ctrl+C）
  4  超时或重试次数过多
  5  文件错误：无法读取文件、无法写入文件夹，
     或文件超过大小上限
</translation>
    </message>
    <message>
        <source>%1 needs a value.</source>
        <translation>%1 需要一个值。</translation>
    </message>
    <message>
        <source>Unknown baud rate &quot;%1&quot;.</source>
        <translation>无效的波特率“%1”。</translation>
    </message>
    <message>
        <source>Unknown flow control &quot;%1&quot;; use none, rtscts or xonxoff.</source>
        <translation>未知的流控“%1”；请使用 none、rtscts 或 xonxoff。</translation>
    </message>
    <message>
        <source>Unknown protocol &quot;%1&quot;; use xmodem, xmodem-crc, xmodem-1k, ymodem or ymodem-g.</source>
        <translation>未知的协议“%1”；请使用 xmodem、xmodem-crc、xmodem-1k、ymodem 或 ymodem-g。</translation>
    </message>
    <message>
        <source>--name needs a file name.</source>
        <translation>--name 需要一个文件名。</translation>
    </message>
    <message>
        <source>--max-size takes a number of MiB from 0 to 65536.</source>
        <translation>--max-size 接受 0 到 65536 之间的 MiB 数。</translation>
    </message>
    <message>
        <source>Unknown option %1.</source>
        <translation>未知选项 %1。</translation>
    </message>
    <message>
        <source>send takes exactly one FILE.</source>
        <translation>send 需要且只需要一个 FILE。</translation>
    </message>
    <message>
        <source>receive takes at most one FOLDER.</source>
        <translation>receive 最多接受一个 FOLDER。</translation>
    </message>
    <message>
        <source>Say send or receive.</source>
        <translation>请指定 send 或 receive。</translation>
    </message>
    <message>
        <source>Unknown command &quot;%1&quot;; use send or receive.</source>
        <translation>未知命令“%1”；请使用 send 或 receive。</translation>
    </message>
    <message>
        <source>--port is required.</source>
        <translation>必须指定 --port。</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not tcp:HOST:PORT.</source>
        <translation>“%1”不是 tcp:HOST:PORT 形式。</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not rfc2217:HOST:PORT.</source>
        <translation>“%1”不是 rfc2217:HOST:PORT 形式。</translation>
    </message>
    <message>
        <source>YMODEM-G does not retransmit, so it needs hardware flow control (RTS/CTS). Add --flow rtscts if the port has it.</source>
        <translation>YMODEM-G 不会重传，因此需要硬件流控（RTS/CTS）。如果端口支持，请加上 --flow rtscts。</translation>
    </message>
    <message>
        <source>Could not open %1.</source>
        <translation>无法打开 %1。</translation>
    </message>
    <message>
        <source>Could not connect to %1:%2.</source>
        <translation>无法连接到 %1:%2。</translation>
    </message>
</context>
<context>
    <name>WireTextCodecRegistry</name>
    <message>
        <source>The character &apos;%1&apos; cannot be encoded as %2. Change the encoding or edit the message.</source>
        <translation>字符“%1”无法以 %2 编码。请更换编码或修改消息。</translation>
    </message>
    <message>
        <source>This message cannot be encoded as %1. Change the encoding or edit the message.</source>
        <translation>此消息无法以 %1 编码。请更换编码或修改消息。</translation>
    </message>
</context>
<context>
    <name>XferFileSink</name>
    <message>
        <source>The folder %1 does not exist.</source>
        <translation>文件夹 %1 不存在。</translation>
    </message>
    <message>
        <source>%1 has %2 MB free but the file needs %3 MB. Choose another location.</source>
        <translation>%1 的可用空间为 %2 MB，但文件需要 %3 MB。请选择其他位置。</translation>
    </message>
    <message>
        <source>Could not create %1: %2</source>
        <translation>无法创建 %1：%2</translation>
    </message>
    <message>
        <source>The file was received but could not be renamed to %1.</source>
        <translation>文件已接收，但无法重命名为 %1。</translation>
    </message>
</context>
<context>
    <name>XferFileSource</name>
    <message>
        <source>It is a folder.</source>
        <translation>这是一个文件夹。</translation>
    </message>
    <message>
        <source>Could not open %1: %2</source>
        <translation>无法打开 %1：%2</translation>
    </message>
</context>
<context>
    <name>XmodemCodec</name>
    <message>
        <source>Could not create the destination file.</source>
        <translation>无法创建目标文件。</translation>
    </message>
    <message>
        <source>Cancelled.</source>
        <translation>已取消。</translation>
    </message>
    <message>
        <source>The device cancelled the transfer.</source>
        <translation>设备取消了传输。</translation>
    </message>
    <message>
        <source>The device reported an error. YMODEM-G cannot resend a block, so the transfer has been abandoned.</source>
        <translation>设备报告了错误。YMODEM-G 无法重发数据块，传输已放弃。</translation>
    </message>
    <message>
        <source>The device stopped responding. YMODEM-G has no retransmission, so the transfer has failed.</source>
        <translation>设备停止响应。YMODEM-G 没有重传机制，传输失败。</translation>
    </message>
    <message>
        <source>Gave up after %1 retries.</source>
        <translation>重试 %1 次后放弃。</translation>
    </message>
    <message>
        <source>Could not read the file being sent.</source>
        <translation>无法读取正在发送的文件。</translation>
    </message>
    <message>
        <source>The file changed while it was being sent.</source>
        <translation>文件在发送过程中被修改。</translation>
    </message>
    <message>
        <source>The device did not request the transfer. Check that it is waiting to receive and that the baud rate matches.</source>
        <translation>设备未请求传输。请检查设备是否在等待接收，以及波特率是否一致。</translation>
    </message>
    <message>
        <source>Block %1 arrived when block %2 was expected; the transfer is out of step.</source>
        <translation>期望第 %2 块时收到了第 %1 块，传输已失步。</translation>
    </message>
    <message>
        <source>Writing to disk failed.</source>
        <translation>写入磁盘失败。</translation>
    </message>
    <message>
        <source>Received %1 bytes without an end of transfer. XMODEM has no length field, so there is no way to tell when it should stop.</source>
        <translation>已接收 %1 字节仍未收到传输结束。XMODEM 没有长度字段，无法判断何时应当停止。</translation>
    </message>
    <message>
        <source>The device sent a malformed file header.</source>
        <translation>设备发送了格式错误的文件头。</translation>
    </message>
    <message>
        <source>The device offered a %1 byte file, which is over the receive limit.</source>
        <translation>设备提供的文件大小为 %1 字节，超出了接收上限。</translation>
    </message>
    <message>
        <source>A block failed its checksum. YMODEM-G cannot ask for it again, so the transfer has failed.</source>
        <translation>一个数据块校验失败。YMODEM-G 无法请求重发，传输失败。</translation>
    </message>
    <message>
        <source>Data kept failing its checksum. This is usually a baud rate mismatch or line noise.</source>
        <translation>数据反复校验失败，通常是波特率不一致或线路干扰所致。</translation>
    </message>
    <message>
        <source>The data was received but could not be saved.</source>
        <translation>数据已接收，但无法保存。</translation>
    </message>
    <message>
        <source>The device did not start sending. Check that it is ready to send and that the baud rate matches.</source>
        <translation>设备未开始发送。请检查设备是否已准备好发送，以及波特率是否一致。</translation>
    </message>
    <message>
        <source>The device stopped sending. YMODEM-G cannot recover, so the transfer has failed.</source>
        <translation>设备停止了发送。YMODEM-G 无法恢复，传输失败。</translation>
    </message>
</context>
</TS>
