// SPDX-License-Identifier: GPL-2.0
/*
 * simrx_driver: the receiver's driver as the tools see it, for a test
 * machine. Blind-scan devices /dev/blindscanN answer requests 1, 2 and 3
 * with their 20- and 32-byte records, /dev/dvb/adapter0/frontendN exist for
 * the tuners described and take the LNB requests of the DVB frontend API
 * (FE_SET_VOLTAGE, FE_SET_TONE, FE_DISEQC_SEND_MASTER_CMD,
 * FE_DISEQC_SEND_BURST), which set what later searches see, /proc/bus/nim_sockets holds the socket listing, and
 * /proc/stb/avs/0/input and /proc/stb/dbg take the standby tool's writes.
 *
 * The receiver is loaded by writing a description, compiled in user space
 * from the simulated receiver's own files, to /proc/simrx/receiver:
 *   frontend N | listing TEXT | fault open | fault listing |
 *   fault REQUEST AT_MHZ RET (AT_MHZ -1: every step) |
 *   fault frontend open | fault frontend lnb |
 *   step MHZ W0..W7 (the search at step MHZ finds these eight words) |
 *   answer POL BAND ROUTE HZ SR_MIN SR_MAX W0..W7 (the search of this
 *     window, with the LNB set to POL (H or V) and BAND (0 low, 1 high)
 *     after ROUTE switch or single-cable commands (DiSEqC messages and tone
 *     bursts), finds these words; with answers loaded, a search that has
 *     none finds nothing)
 * Everything the driver sees is logged, in the simulated receiver's format,
 * to /proc/simrx/log; a write there appends a line of its own.
 * Frequencies in Hz in the records, MHz in the step table.
 */
#include <linux/dvb/frontend.h>
#include <linux/fs.h>
#include <linux/miscdevice.h>
#include <linux/module.h>
#include <linux/mutex.h>
#include <linux/proc_fs.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/uaccess.h>
#include <linux/vmalloc.h>

#define MAX_TUNERS	16
#define MAX_STEPS	256
#define MAX_ANSWERS	2048
#define MAX_FAULTS	64
#define MAX_LISTING	64
#define LISTING_LINE	128
#define LOG_SIZE	(512 * 1024)

/* Request codes are plain numbers, with no direction or size bits. */
#define BS_SET_PARAMS	1
#define BS_SEARCH	2
#define BS_GET_RESULT	3

struct blindscan_params {
	u32 frequency;		/* Hz */
	u32 symbol_rate_min;	/* symbols per second */
	u32 symbol_rate_max;
	u32 reserved1;
	u32 reserved2;
};

struct blindscan_result {
	u32 words[8];	/* frequency, symbol rate, system, modulation, ... */
};

struct step {
	u32 mhz;
	struct blindscan_result result;
};

struct answer {
	char polarisation;
	u32 high_band, route;
	u32 frequency, symbol_rate_min, symbol_rate_max;
	struct blindscan_result result;
};

struct fault {
	int request;
	s64 at_mhz;	/* -1: every step */
	int ret;
};

struct tuner {
	struct miscdevice frontend;
	struct miscdevice scanner;
	char frontend_path[40];
	char scanner_name[16];
	bool registered;
	bool open;
	bool frontend_open;
};

static DEFINE_MUTEX(simrx_lock);
static struct tuner tuners[MAX_TUNERS];
static struct step steps[MAX_STEPS];
static int step_count;
static struct fault faults[MAX_FAULTS];
static int fault_count;
static char listing[MAX_LISTING][LISTING_LINE];
static int listing_lines;
static bool fault_open, fault_listing, fault_frontend_open, fault_frontend_lnb;
static struct answer *answers;	/* vmalloc'ed, MAX_ANSWERS */
static int answer_count;
/* What the LNB delivers, as the frontend requests last set it. */
static char lnb_polarisation = 'H';
static u32 lnb_high_band;
/* Switch and single-cable commands so far: what they select, the model
 * that computed the answers knows. */
static u32 lnb_route;

/* Per open device: the window of the last request 1, the step found. */
struct scan_state {
	int bus;
	struct blindscan_params params;
	const struct blindscan_result *locked;
};

static char *log_text;
static size_t log_length;

static __printf(1, 2) void log_line(const char *format, ...)
{
	va_list args;
	int n;

	if (log_length + 2 >= LOG_SIZE)
		return;
	va_start(args, format);
	n = vscnprintf(log_text + log_length, LOG_SIZE - log_length - 1, format, args);
	va_end(args);
	log_length += n;
	log_text[log_length++] = '\n';
}

/* ---- the blind-scan devices ------------------------------------------- */

static bool scripted_fault(int request, u32 mhz, int *ret)
{
	int i;

	for (i = 0; i < fault_count; i++) {
		if (faults[i].request != request ||
		    (faults[i].at_mhz >= 0 && faults[i].at_mhz != mhz))
			continue;
		*ret = faults[i].ret;
		return true;
	}
	return false;
}

static const struct blindscan_result *find_result(const struct blindscan_params *p)
{
	int i;

	if (answer_count) {
		for (i = 0; i < answer_count; i++) {
			const struct answer *a = &answers[i];

			if (a->polarisation == lnb_polarisation && a->high_band == lnb_high_band &&
			    a->route == lnb_route && a->frequency == p->frequency &&
			    a->symbol_rate_min == p->symbol_rate_min &&
			    a->symbol_rate_max == p->symbol_rate_max)
				return &a->result;
		}
		return NULL;
	}
	for (i = 0; i < step_count; i++)
		if (steps[i].mhz == p->frequency / 1000000)
			return &steps[i].result;
	return NULL;
}

static int tuner_of(struct file *file)
{
	struct miscdevice *misc = file->private_data;

	return container_of(misc, struct tuner, scanner) - tuners;
}

static int scanner_open(struct inode *inode, struct file *file)
{
	int bus = tuner_of(file);
	unsigned int flags = file->f_flags & ~(O_LARGEFILE | O_CLOEXEC);
	struct scan_state *state;

	mutex_lock(&simrx_lock);
	if (fault_open || tuners[bus].open) {
		log_line("open /dev/blindscan%d flags=0x%x -> fail", bus, flags);
		mutex_unlock(&simrx_lock);
		return fault_open ? -EIO : -EBUSY;
	}
	state = kzalloc(sizeof(*state), GFP_KERNEL);
	if (!state) {
		mutex_unlock(&simrx_lock);
		return -ENOMEM;
	}
	state->bus = bus;
	tuners[bus].open = true;
	file->private_data = state;
	log_line("open /dev/blindscan%d flags=0x%x -> ok", bus, flags);
	mutex_unlock(&simrx_lock);
	return 0;
}

static int scanner_release(struct inode *inode, struct file *file)
{
	struct scan_state *state = file->private_data;

	mutex_lock(&simrx_lock);
	log_line("close /dev/blindscan%d", state->bus);
	tuners[state->bus].open = false;
	mutex_unlock(&simrx_lock);
	kfree(state);
	return 0;
}

static long set_params(struct scan_state *state, void __user *arg)
{
	struct blindscan_params *p = &state->params;
	int ret = 0;

	if (copy_from_user(p, arg, sizeof(*p)))
		return -EFAULT;
	state->locked = NULL;
	scripted_fault(BS_SET_PARAMS, p->frequency / 1000000, &ret);
	log_line("ioctl BS_SET_PARAMS %u %u %u %u %u -> %d", p->frequency,
		 p->symbol_rate_min, p->symbol_rate_max, p->reserved1,
		 p->reserved2, ret);
	return ret;
}

static long search(struct scan_state *state)
{
	u32 mhz = state->params.frequency / 1000000;
	int ret = 0;

	if (!scripted_fault(BS_SEARCH, mhz, &ret)) {
		state->locked = find_result(&state->params);
		ret = state->locked ? 0 : -1;	/* nothing to lock on */
	}
	log_line("ioctl BS_SEARCH -> %d", ret);
	return ret;
}

static long get_result(struct scan_state *state, void __user *arg)
{
	const u32 *w;
	int ret = 0;

	if (scripted_fault(BS_GET_RESULT, state->params.frequency / 1000000, &ret) ||
	    !state->locked) {
		ret = ret ? ret : -1;	/* no search locked */
		log_line("ioctl BS_GET_RESULT -> %d", ret);
		return ret;
	}
	w = state->locked->words;
	if (copy_to_user(arg, state->locked, sizeof(*state->locked)))
		return -EFAULT;
	log_line("ioctl BS_GET_RESULT -> 0 %u %u %u %u %u %u %u %u",
		 w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
	return 0;
}

static long scanner_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	struct scan_state *state = file->private_data;
	long ret;

	mutex_lock(&simrx_lock);
	switch (cmd) {
	case BS_SET_PARAMS:
		ret = set_params(state, (void __user *)arg);
		break;
	case BS_SEARCH:
		ret = search(state);
		break;
	case BS_GET_RESULT:
		ret = get_result(state, (void __user *)arg);
		break;
	default:
		log_line("ioctl 0x%x -> -1", cmd);
		ret = -ENOTTY;
	}
	mutex_unlock(&simrx_lock);
	return ret;
}

static const struct file_operations scanner_fops = {
	.owner = THIS_MODULE,
	.open = scanner_open,
	.release = scanner_release,
	.unlocked_ioctl = scanner_ioctl,
};

/* ---- the frontend nodes: LNB requests ----------------------------------- */

static int frontend_tuner(struct file *file)
{
	struct miscdevice *misc = file->private_data;

	return container_of(misc, struct tuner, frontend) - tuners;
}

/* One opener at a time, as a frontend opened read-write allows. */
static int frontend_open(struct inode *inode, struct file *file)
{
	int bus = frontend_tuner(file);
	unsigned int flags = file->f_flags & ~(O_LARGEFILE | O_CLOEXEC);

	mutex_lock(&simrx_lock);
	if (fault_frontend_open || tuners[bus].frontend_open) {
		log_line("open /dev/dvb/adapter0/frontend%d flags=0x%x -> fail", bus, flags);
		mutex_unlock(&simrx_lock);
		return -EBUSY;
	}
	tuners[bus].frontend_open = true;
	log_line("open /dev/dvb/adapter0/frontend%d flags=0x%x -> ok", bus, flags);
	mutex_unlock(&simrx_lock);
	return 0;
}

static int frontend_release(struct inode *inode, struct file *file)
{
	int bus = frontend_tuner(file);

	mutex_lock(&simrx_lock);
	log_line("close /dev/dvb/adapter0/frontend%d", bus);
	tuners[bus].frontend_open = false;
	mutex_unlock(&simrx_lock);
	return 0;
}

static long lnb_result(const char *what, long ret)
{
	log_line("ioctl %s -> %ld", what, ret);
	return ret ? -EIO : 0;
}

static long set_voltage(unsigned long voltage)
{
	static const char *const names[] = { "SEC_VOLTAGE_13", "SEC_VOLTAGE_18", "SEC_VOLTAGE_OFF" };
	char what[64];

	snprintf(what, sizeof(what), "FE_SET_VOLTAGE %s", voltage < 3 ? names[voltage] : "?");
	if (voltage > SEC_VOLTAGE_OFF || fault_frontend_lnb)
		return lnb_result(what, -1);
	if (voltage != SEC_VOLTAGE_OFF)
		lnb_polarisation = voltage == SEC_VOLTAGE_13 ? 'V' : 'H';
	return lnb_result(what, 0);
}

static long set_tone(unsigned long tone)
{
	char what[64];

	snprintf(what, sizeof(what), "FE_SET_TONE %s", tone == SEC_TONE_ON ? "SEC_TONE_ON" :
		 tone == SEC_TONE_OFF ? "SEC_TONE_OFF" : "?");
	if (tone > SEC_TONE_OFF || fault_frontend_lnb)
		return lnb_result(what, -1);
	lnb_high_band = tone == SEC_TONE_ON;
	return lnb_result(what, 0);
}

/* Any message up to six bytes goes out; it counts as one more command. */
static long send_diseqc(void __user *arg)
{
	struct dvb_diseqc_master_cmd cmd;
	char what[64];
	int n, i;

	if (copy_from_user(&cmd, arg, sizeof(cmd)))
		return -EFAULT;
	n = scnprintf(what, sizeof(what), "FE_DISEQC_SEND_MASTER_CMD");
	for (i = 0; i < cmd.msg_len && i < 6; i++)
		n += scnprintf(what + n, sizeof(what) - n, " %02x", cmd.msg[i]);
	if (cmd.msg_len < 3 || cmd.msg_len > 6 || fault_frontend_lnb)
		return lnb_result(what, -1);
	lnb_route++;
	return lnb_result(what, 0);
}

static long send_burst(unsigned long burst)
{
	char what[64];

	snprintf(what, sizeof(what), "FE_DISEQC_SEND_BURST %s", burst == SEC_MINI_A ? "SEC_MINI_A" :
		 burst == SEC_MINI_B ? "SEC_MINI_B" : "?");
	if (burst > SEC_MINI_B || fault_frontend_lnb)
		return lnb_result(what, -1);
	lnb_route++;
	return lnb_result(what, 0);
}

static long frontend_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	long ret;

	mutex_lock(&simrx_lock);
	switch (cmd) {
	case FE_SET_VOLTAGE:
		ret = set_voltage(arg);
		break;
	case FE_SET_TONE:
		ret = set_tone(arg);
		break;
	case FE_DISEQC_SEND_MASTER_CMD:
		ret = send_diseqc((void __user *)arg);
		break;
	case FE_DISEQC_SEND_BURST:
		ret = send_burst(arg);
		break;
	default:
		log_line("ioctl 0x%x -> -1", cmd);
		ret = -ENOTTY;
	}
	mutex_unlock(&simrx_lock);
	return ret;
}

static const struct file_operations frontend_fops = {
	.owner = THIS_MODULE,
	.open = frontend_open,
	.release = frontend_release,
	.unlocked_ioctl = frontend_ioctl,
};

static int add_tuner(int n)
{
	struct tuner *t = &tuners[n];
	int err;

	if (t->registered)
		return 0;
	snprintf(t->frontend_path, sizeof(t->frontend_path), "dvb/adapter0/frontend%d", n);
	snprintf(t->scanner_name, sizeof(t->scanner_name), "blindscan%d", n);
	t->frontend = (struct miscdevice){ .minor = MISC_DYNAMIC_MINOR,
		.name = t->frontend_path + strlen("dvb/adapter0/"),
		.nodename = t->frontend_path, .fops = &frontend_fops, .mode = 0660 };
	t->scanner = (struct miscdevice){ .minor = MISC_DYNAMIC_MINOR,
		.name = t->scanner_name, .fops = &scanner_fops, .mode = 0660 };
	err = misc_register(&t->frontend);
	if (err)
		return err;
	err = misc_register(&t->scanner);
	if (err)
		goto unregister_frontend;
	t->registered = true;
	return 0;

unregister_frontend:
	misc_deregister(&t->frontend);
	return err;
}

static void remove_tuners(void)
{
	int n;

	for (n = 0; n < MAX_TUNERS; n++) {
		if (!tuners[n].registered)
			continue;
		misc_deregister(&tuners[n].scanner);
		misc_deregister(&tuners[n].frontend);
		tuners[n].registered = false;
	}
}

/* ---- loading a receiver ----------------------------------------------- */

static int load_line(char *line)
{
	struct step *s;
	long long at;
	int n, request, ret;

	if (!strcmp(line, "reset")) {
		remove_tuners();
		step_count = fault_count = listing_lines = answer_count = 0;
		fault_open = fault_listing = fault_frontend_open = fault_frontend_lnb = false;
		lnb_polarisation = 'H';
		lnb_high_band = lnb_route = 0;
		log_length = 0;
		return 0;
	}
	if (sscanf(line, "frontend %d", &n) == 1)
		return n >= 0 && n < MAX_TUNERS ? add_tuner(n) : -EINVAL;
	if (!strncmp(line, "listing ", 8)) {
		if (listing_lines >= MAX_LISTING)
			return -ENOSPC;
		strscpy(listing[listing_lines++], line + 8, LISTING_LINE);
		return 0;
	}
	if (!strcmp(line, "fault open"))
		return fault_open = true, 0;
	if (!strcmp(line, "fault listing"))
		return fault_listing = true, 0;
	if (!strcmp(line, "fault frontend open"))
		return fault_frontend_open = true, 0;
	if (!strcmp(line, "fault frontend lnb"))
		return fault_frontend_lnb = true, 0;
	if (!strncmp(line, "answer ", 7)) {
		struct answer *a;
		u32 *w;

		if (answer_count >= MAX_ANSWERS)
			return -ENOSPC;
		a = &answers[answer_count];
		w = a->result.words;
		if (sscanf(line, "answer %c %u %u %u %u %u %u %u %u %u %u %u %u %u",
			   &a->polarisation, &a->high_band, &a->route, &a->frequency,
			   &a->symbol_rate_min, &a->symbol_rate_max, &w[0], &w[1], &w[2],
			   &w[3], &w[4], &w[5], &w[6], &w[7]) != 14)
			return -EINVAL;
		answer_count++;
		return 0;
	}
	if (sscanf(line, "fault %d %lld %d", &request, &at, &ret) == 3) {
		if (fault_count >= MAX_FAULTS)
			return -ENOSPC;
		faults[fault_count++] = (struct fault){ request, at, ret };
		return 0;
	}
	if (!strncmp(line, "step ", 5)) {
		if (step_count >= MAX_STEPS)
			return -ENOSPC;
		s = &steps[step_count];
		if (sscanf(line, "step %u %u %u %u %u %u %u %u %u", &s->mhz,
			   &s->result.words[0], &s->result.words[1], &s->result.words[2],
			   &s->result.words[3], &s->result.words[4], &s->result.words[5],
			   &s->result.words[6], &s->result.words[7]) != 9)
			return -EINVAL;
		step_count++;
		return 0;
	}
	return -EINVAL;
}

/* One line per write, as "echo" and a line-by-line copy deliver them. */
static ssize_t receiver_write(struct file *file, const char __user *data,
			      size_t size, loff_t *pos)
{
	char line[256];
	size_t length = min(size, sizeof(line) - 1);
	int err;

	if (copy_from_user(line, data, length))
		return -EFAULT;
	line[length] = '\0';
	if (length && line[length - 1] == '\n')
		line[length - 1] = '\0';
	mutex_lock(&simrx_lock);
	err = load_line(line);
	mutex_unlock(&simrx_lock);
	return err ? err : size;
}

static const struct proc_ops receiver_ops = {
	.proc_write = receiver_write,
	.proc_lseek = noop_llseek,
};

/* ---- /proc files -------------------------------------------------------- */

static int listing_show(struct seq_file *m, void *v)
{
	int i;

	for (i = 0; i < listing_lines; i++)
		seq_printf(m, "%s\n", listing[i]);
	return 0;
}

static int listing_open(struct inode *inode, struct file *file)
{
	mutex_lock(&simrx_lock);
	log_line("open /proc/bus/nim_sockets -> %s", fault_listing ? "fail" : "ok");
	mutex_unlock(&simrx_lock);
	if (fault_listing)
		return -EIO;
	return single_open(file, listing_show, NULL);
}

static const struct proc_ops listing_ops = {
	.proc_open = listing_open,
	.proc_read = seq_read,
	.proc_lseek = seq_lseek,
	.proc_release = single_release,
};

static int log_show(struct seq_file *m, void *v)
{
	mutex_lock(&simrx_lock);
	seq_write(m, log_text, log_length);
	mutex_unlock(&simrx_lock);
	return 0;
}

static int log_open(struct inode *inode, struct file *file)
{
	return single_open_size(file, log_show, NULL, LOG_SIZE);
}

/* A write to the log or to a driver file: one line, its text as written. */
static ssize_t write_logged(const char *prefix, const char __user *data, size_t size)
{
	char text[256];
	size_t length = min(size, sizeof(text) - 1);

	if (copy_from_user(text, data, length))
		return -EFAULT;
	text[length] = '\0';
	if (length && text[length - 1] == '\n')
		text[length - 1] = '\0';
	mutex_lock(&simrx_lock);
	log_line("%s%s", prefix, text);
	mutex_unlock(&simrx_lock);
	return size;
}

static ssize_t log_write(struct file *file, const char __user *data, size_t size, loff_t *pos)
{
	return write_logged("", data, size);
}

static const struct proc_ops log_ops = {
	.proc_open = log_open,
	.proc_read = seq_read,
	.proc_write = log_write,
	.proc_lseek = seq_lseek,
	.proc_release = single_release,
};

static ssize_t avs_input_write(struct file *file, const char __user *data, size_t size, loff_t *pos)
{
	return write_logged("write /proc/stb/avs/0/input ", data, size);
}

static ssize_t dbg_write(struct file *file, const char __user *data, size_t size, loff_t *pos)
{
	return write_logged("write /proc/stb/dbg ", data, size);
}

static const struct proc_ops avs_input_ops = {
	.proc_write = avs_input_write,
	.proc_lseek = noop_llseek,
};

static const struct proc_ops dbg_ops = {
	.proc_write = dbg_write,
	.proc_lseek = noop_llseek,
};

static struct proc_dir_entry *simrx_dir, *stb_dir;

static int __init simrx_init(void)
{
	struct proc_dir_entry *avs, *avs0;

	log_text = vmalloc(LOG_SIZE);
	answers = vmalloc(MAX_ANSWERS * sizeof(*answers));
	if (!log_text || !answers) {
		vfree(log_text);
		vfree(answers);
		return -ENOMEM;
	}
	simrx_dir = proc_mkdir("simrx", NULL);
	stb_dir = proc_mkdir("stb", NULL);
	if (!simrx_dir || !stb_dir)
		goto fail;
	avs = proc_mkdir("avs", stb_dir);
	avs0 = avs ? proc_mkdir("0", avs) : NULL;
	if (!avs0)
		goto fail;
	if (!proc_create("receiver", 0200, simrx_dir, &receiver_ops) ||
	    !proc_create("log", 0600, simrx_dir, &log_ops) ||
	    !proc_create("bus/nim_sockets", 0444, NULL, &listing_ops) ||
	    !proc_create("input", 0200, avs0, &avs_input_ops) ||
	    !proc_create("dbg", 0200, stb_dir, &dbg_ops))
		goto fail;
	return 0;

fail:
	remove_proc_entry("bus/nim_sockets", NULL);
	proc_remove(stb_dir);
	proc_remove(simrx_dir);
	vfree(log_text);
	vfree(answers);
	return -ENOMEM;
}

static void __exit simrx_exit(void)
{
	remove_tuners();
	remove_proc_entry("bus/nim_sockets", NULL);
	proc_remove(stb_dir);
	proc_remove(simrx_dir);
	vfree(log_text);
	vfree(answers);
}

module_init(simrx_init);
module_exit(simrx_exit);
MODULE_DESCRIPTION("The receiver's blind-scan and control files, for a test machine");
MODULE_LICENSE("GPL");
