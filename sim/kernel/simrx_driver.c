// SPDX-License-Identifier: GPL-2.0
/*
 * simrx_driver: the receiver's driver as the tools see it, for a test
 * machine. Blind-scan devices /dev/blindscanN answer requests 1, 2 and 3
 * with their 20- and 32-byte records, /dev/dvb/adapter0/frontendN exist for
 * the tuners described and take the LNB requests of the DVB frontend API
 * (FE_SET_VOLTAGE, FE_SET_TONE, FE_DISEQC_SEND_MASTER_CMD,
 * FE_DISEQC_SEND_BURST), which set what later searches on the same cable
 * see, and FE_GET_PROPERTY for DTV_VOLTAGE and DTV_TONE, which read it back.
 * /proc/bus/nim_sockets holds the socket listing, and /proc/stb/avs/0/input
 * and /proc/stb/dbg take the standby tool's writes.
 *
 * The receiver is loaded by writing a description, compiled in user space
 * from the simulated receiver's own files, to /proc/simrx/receiver:
 *   frontend N | listing TEXT | fault open | fault listing |
 *   fault REQUEST AT_MHZ RET (AT_MHZ -1: every step) |
 *   fault frontend open | fault frontend lnb |
 *   lnb POL BAND (every cable's setting before any request; H 0 if not given) |
 *   input N FROM (tuner N takes its signal from tuner FROM's cable; N's own
 *     LNB requests are answered but reach nothing) |
 *   single cable (one cable feeds every tuner, and each tuner's LNB
 *     requests act on it) |
 *   busy N (another program holds tuner N: read-write opens of its frontend
 *     and opens of its blind-scan device fail with EBUSY) |
 *   step MHZ W0..W7 (the search at step MHZ finds these eight words) |
 *   answer CABLE POL BAND ROUTE HZ SR_MIN SR_MAX W0..W7 (the search of this
 *     window on a tuner of CABLE (the tuner that drives it), with that cable
 *     set to POL (H or V) and BAND (0 low, 1 high) after ROUTE switch or
 *     single-cable commands (DiSEqC messages and tone bursts), finds these
 *     words; with answers loaded, a search that has none finds nothing)
 * Everything the driver sees is logged, in the simulated receiver's format,
 * to /proc/simrx/log; a write there appends a line of its own. A request
 * line names its device when another tuner is in use at the time, so lines
 * of several tools stay apart; a tool alone on one tuner logs as before.
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
#define MAX_ANSWERS	4096
#define MAX_FAULTS	64
#define MAX_LISTING	64
#define LISTING_LINE	128
#define LOG_SIZE	(1024 * 1024)

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
	u32 cable;
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

/* What an LNB cable delivers, as its driving frontend's requests set it. */
struct cable {
	char polarisation;	/* 'H' or 'V' */
	bool high_band;
	bool powered;		/* false after SEC_VOLTAGE_OFF: nothing to find */
	/* Switch and single-cable commands so far: what they select, the
	 * model that computed the answers knows. */
	u32 route;
};

struct tuner {
	struct miscdevice frontend;
	struct miscdevice scanner;
	char frontend_path[40];
	char scanner_name[16];
	bool registered;
	/* Follow the open files, so a reset leaves them as they are. */
	bool scanner_open;
	bool frontend_writer;
	/* From the description. */
	int cable;		/* the tuner whose cable it takes its signal from */
	bool follower;		/* its LNB requests reach nothing */
	bool busy;		/* held by another program */
};

/*
 * simrx_lock guards everything below: the loaded tables and wiring, the
 * cables' LNB state, which nodes are open, and the log, so that every log
 * line is appended whole and a search sees one cable setting. It is a
 * mutex: copies from and to user space under it may sleep.
 *
 * Device registration never happens under it: misc_open() calls our open
 * with the misc layer's own mutex held, so misc_(de)register() under
 * simrx_lock could deadlock against an open. load_lock orders the
 * description's lines and the registrations they cause instead.
 */
static DEFINE_MUTEX(load_lock);
static DEFINE_MUTEX(simrx_lock);
static struct tuner tuners[MAX_TUNERS];
static struct cable cables[MAX_TUNERS];	/* by driving tuner */
static struct cable first_setting = { 'H', false, true, 0 };
static struct step steps[MAX_STEPS];
static int step_count;
static struct fault faults[MAX_FAULTS];
static int fault_count;
static char listing[MAX_LISTING][LISTING_LINE];
static int listing_lines;
static bool fault_open, fault_listing, fault_frontend_open, fault_frontend_lnb;
static struct answer *answers;	/* vmalloc'ed, MAX_ANSWERS */
static int answer_count;
static char *log_text;
static size_t log_length;

/* Per open blind-scan device: the window of the last request 1 and what
 * its search found, copied, so a reload cannot change it under the file. */
struct scan_file {
	int bus;
	struct blindscan_params params;
	bool locked;
	struct blindscan_result result;
};

/* Per open frontend: read-only opens may only read the LNB setting. */
struct frontend_file {
	int bus;
	bool writer;
};

static __printf(1, 2) void log_line(const char *format, ...)
{
	va_list args;
	int n;

	lockdep_assert_held(&simrx_lock);
	if (log_length + 2 >= LOG_SIZE)
		return;
	va_start(args, format);
	n = vscnprintf(log_text + log_length, LOG_SIZE - log_length - 1, format, args);
	va_end(args);
	log_length += n;
	log_text[log_length++] = '\n';
}

static bool in_use(int bus)
{
	return tuners[bus].scanner_open || tuners[bus].frontend_writer;
}

/* "" while the tuner is alone in use, else its node and a space. */
static const char *node_tag(char *tag, size_t size, bool scanner, int bus)
{
	int n;

	tag[0] = '\0';
	for (n = 0; n < MAX_TUNERS; n++)
		if (n != bus && in_use(n))
			break;
	if (n == MAX_TUNERS)
		return tag;
	if (scanner)
		snprintf(tag, size, "/dev/blindscan%d ", bus);
	else
		snprintf(tag, size, "/dev/dvb/adapter0/frontend%d ", bus);
	return tag;
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

static const struct blindscan_result *find_answer(int bus, const struct blindscan_params *p)
{
	u32 wire = tuners[bus].cable;
	const struct cable *c = &cables[wire];
	int i;

	if (!c->powered)
		return NULL;
	for (i = 0; i < answer_count; i++) {
		const struct answer *a = &answers[i];

		if (a->cable == wire && a->polarisation == c->polarisation &&
		    a->high_band == c->high_band && a->route == c->route &&
		    a->frequency == p->frequency &&
		    a->symbol_rate_min == p->symbol_rate_min &&
		    a->symbol_rate_max == p->symbol_rate_max)
			return &a->result;
	}
	return NULL;
}

static const struct blindscan_result *find_result(int bus, const struct blindscan_params *p)
{
	int i;

	if (answer_count)
		return find_answer(bus, p);
	for (i = 0; i < step_count; i++)
		if (steps[i].mhz == p->frequency / 1000000)
			return &steps[i].result;
	return NULL;
}

static int scanner_open(struct inode *inode, struct file *file)
{
	struct miscdevice *misc = file->private_data;
	int bus = container_of(misc, struct tuner, scanner) - tuners;
	unsigned int flags = file->f_flags & ~(O_LARGEFILE | O_CLOEXEC);
	struct scan_file *state;
	int err = 0;

	state = kzalloc(sizeof(*state), GFP_KERNEL);
	if (!state)
		return -ENOMEM;
	state->bus = bus;
	mutex_lock(&simrx_lock);
	if (fault_open)
		err = -EIO;
	else if (tuners[bus].scanner_open || tuners[bus].busy)
		err = -EBUSY;
	log_line("open /dev/blindscan%d flags=0x%x -> %s", bus, flags, err ? "fail" : "ok");
	if (!err) {
		tuners[bus].scanner_open = true;
		file->private_data = state;
	}
	mutex_unlock(&simrx_lock);
	if (err)
		kfree(state);
	return err;
}

/* Runs once no request is left on the file: the state goes with it. */
static int scanner_release(struct inode *inode, struct file *file)
{
	struct scan_file *state = file->private_data;

	mutex_lock(&simrx_lock);
	log_line("close /dev/blindscan%d", state->bus);
	tuners[state->bus].scanner_open = false;
	mutex_unlock(&simrx_lock);
	kfree(state);
	return 0;
}

static long set_params(struct scan_file *state, const struct blindscan_params *p,
		       const char *tag)
{
	int ret = 0;

	state->params = *p;
	state->locked = false;
	scripted_fault(BS_SET_PARAMS, p->frequency / 1000000, &ret);
	log_line("ioctl %sBS_SET_PARAMS %u %u %u %u %u -> %d", tag, p->frequency,
		 p->symbol_rate_min, p->symbol_rate_max, p->reserved1,
		 p->reserved2, ret);
	return ret;
}

static long search(struct scan_file *state, const char *tag)
{
	const struct blindscan_result *found;
	int ret = 0;

	if (!scripted_fault(BS_SEARCH, state->params.frequency / 1000000, &ret)) {
		found = find_result(state->bus, &state->params);
		state->locked = found != NULL;
		if (found)
			state->result = *found;
		ret = found ? 0 : -1;	/* nothing to lock on */
	}
	log_line("ioctl %sBS_SEARCH -> %d", tag, ret);
	return ret;
}

static long get_result(struct scan_file *state, void __user *arg, const char *tag)
{
	const u32 *w = state->result.words;
	int ret = 0;

	if (scripted_fault(BS_GET_RESULT, state->params.frequency / 1000000, &ret) ||
	    !state->locked) {
		ret = ret ? ret : -1;	/* no search locked */
		log_line("ioctl %sBS_GET_RESULT -> %d", tag, ret);
		return ret;
	}
	if (copy_to_user(arg, &state->result, sizeof(state->result)))
		return -EFAULT;
	log_line("ioctl %sBS_GET_RESULT -> 0 %u %u %u %u %u %u %u %u", tag,
		 w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
	return 0;
}

static long scanner_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	struct scan_file *state = file->private_data;
	struct blindscan_params params;
	char tag[32];
	long ret;

	if (cmd == BS_SET_PARAMS && copy_from_user(&params, (void __user *)arg, sizeof(params)))
		return -EFAULT;
	mutex_lock(&simrx_lock);
	node_tag(tag, sizeof(tag), true, state->bus);
	switch (cmd) {
	case BS_SET_PARAMS:
		ret = set_params(state, &params, tag);
		break;
	case BS_SEARCH:
		ret = search(state, tag);
		break;
	case BS_GET_RESULT:
		ret = get_result(state, (void __user *)arg, tag);
		break;
	default:
		log_line("ioctl %s0x%x -> -1", tag, cmd);
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

/* One writer at a time, readers beside it, as a DVB frontend allows. */
static int frontend_open(struct inode *inode, struct file *file)
{
	struct miscdevice *misc = file->private_data;
	int bus = container_of(misc, struct tuner, frontend) - tuners;
	unsigned int flags = file->f_flags & ~(O_LARGEFILE | O_CLOEXEC);
	bool writer = (file->f_flags & O_ACCMODE) != O_RDONLY;
	struct frontend_file *state;
	int err = 0;

	state = kzalloc(sizeof(*state), GFP_KERNEL);
	if (!state)
		return -ENOMEM;
	state->bus = bus;
	state->writer = writer;
	mutex_lock(&simrx_lock);
	if (fault_frontend_open || (writer && (tuners[bus].frontend_writer || tuners[bus].busy)))
		err = -EBUSY;
	log_line("open /dev/dvb/adapter0/frontend%d flags=0x%x -> %s", bus, flags,
		 err ? "fail" : "ok");
	if (!err) {
		tuners[bus].frontend_writer |= writer;
		file->private_data = state;
	}
	mutex_unlock(&simrx_lock);
	if (err)
		kfree(state);
	return err;
}

static int frontend_release(struct inode *inode, struct file *file)
{
	struct frontend_file *state = file->private_data;

	mutex_lock(&simrx_lock);
	log_line("close /dev/dvb/adapter0/frontend%d", state->bus);
	if (state->writer)
		tuners[state->bus].frontend_writer = false;
	mutex_unlock(&simrx_lock);
	kfree(state);
	return 0;
}

/*
 * An LNB request: logged as "ioctl [NODE ]WHAT -> RET". It acts on the
 * tuner's cable unless it failed or the tuner only takes its signal from
 * another's cable, where it is answered but reaches nothing.
 */
static struct cable *lnb_request(int bus, const char *tag, const char *what, bool bad)
{
	if (bad || fault_frontend_lnb) {
		log_line("ioctl %s%s -> -1", tag, what);
		return ERR_PTR(-EIO);
	}
	log_line("ioctl %s%s -> 0", tag, what);
	return tuners[bus].follower ? NULL : &cables[tuners[bus].cable];
}

static long set_voltage(int bus, const char *tag, unsigned long voltage)
{
	static const char *const names[] = { "SEC_VOLTAGE_13", "SEC_VOLTAGE_18", "SEC_VOLTAGE_OFF" };
	struct cable *c;
	char what[64];

	snprintf(what, sizeof(what), "FE_SET_VOLTAGE %s", voltage < 3 ? names[voltage] : "?");
	c = lnb_request(bus, tag, what, voltage > SEC_VOLTAGE_OFF);
	if (IS_ERR_OR_NULL(c))
		return PTR_ERR_OR_ZERO(c);
	c->powered = voltage != SEC_VOLTAGE_OFF;
	if (c->powered)
		c->polarisation = voltage == SEC_VOLTAGE_13 ? 'V' : 'H';
	return 0;
}

static long set_tone(int bus, const char *tag, unsigned long tone)
{
	struct cable *c;
	char what[64];

	snprintf(what, sizeof(what), "FE_SET_TONE %s", tone == SEC_TONE_ON ? "SEC_TONE_ON" :
		 tone == SEC_TONE_OFF ? "SEC_TONE_OFF" : "?");
	c = lnb_request(bus, tag, what, tone > SEC_TONE_OFF);
	if (IS_ERR_OR_NULL(c))
		return PTR_ERR_OR_ZERO(c);
	c->high_band = tone == SEC_TONE_ON;
	return 0;
}

/* Any message of three to six bytes goes out; it counts as one more command. */
static long send_diseqc(int bus, const char *tag, const struct dvb_diseqc_master_cmd *cmd)
{
	struct cable *c;
	char what[64];
	int n, i;

	n = scnprintf(what, sizeof(what), "FE_DISEQC_SEND_MASTER_CMD");
	for (i = 0; i < cmd->msg_len && i < 6; i++)
		n += scnprintf(what + n, sizeof(what) - n, " %02x", cmd->msg[i]);
	c = lnb_request(bus, tag, what, cmd->msg_len < 3 || cmd->msg_len > 6);
	if (IS_ERR_OR_NULL(c))
		return PTR_ERR_OR_ZERO(c);
	c->route++;
	return 0;
}

static long send_burst(int bus, const char *tag, unsigned long burst)
{
	struct cable *c;
	char what[64];

	snprintf(what, sizeof(what), "FE_DISEQC_SEND_BURST %s", burst == SEC_MINI_A ? "SEC_MINI_A" :
		 burst == SEC_MINI_B ? "SEC_MINI_B" : "?");
	c = lnb_request(bus, tag, what, burst > SEC_MINI_B);
	if (IS_ERR_OR_NULL(c))
		return PTR_ERR_OR_ZERO(c);
	c->route++;
	return 0;
}

/* The cable's setting in the frontend API's words; false for any other property. */
static bool read_property(const struct cable *c, struct dtv_property *p, char *what, size_t size)
{
	switch (p->cmd) {
	case DTV_VOLTAGE:
		p->u.data = !c->powered ? SEC_VOLTAGE_OFF :
			    c->polarisation == 'V' ? SEC_VOLTAGE_13 : SEC_VOLTAGE_18;
		snprintf(what, size, " DTV_VOLTAGE %s", p->u.data == SEC_VOLTAGE_OFF ? "SEC_VOLTAGE_OFF" :
			 p->u.data == SEC_VOLTAGE_13 ? "SEC_VOLTAGE_13" : "SEC_VOLTAGE_18");
		return true;
	case DTV_TONE:
		p->u.data = c->high_band ? SEC_TONE_ON : SEC_TONE_OFF;
		snprintf(what, size, " DTV_TONE %s", c->high_band ? "SEC_TONE_ON" : "SEC_TONE_OFF");
		return true;
	}
	snprintf(what, size, " %u", p->cmd);
	return false;
}

/* Every property read under one hold of the lock, so they agree. */
static long get_properties(int bus, const char *tag, struct dtv_property *props, u32 num)
{
	const struct cable *c = &cables[tuners[bus].cable];
	char what[160];
	int n = 0;
	u32 i;
	bool ok = true;

	n = scnprintf(what, sizeof(what), "FE_GET_PROPERTY");
	for (i = 0; i < num; i++) {
		ok &= read_property(c, &props[i], what + n, sizeof(what) - n);
		n = strlen(what);
		props[i].result = 0;
	}
	log_line("ioctl %s%s -> %d", tag, what, ok ? 0 : -1);
	return ok ? 0 : -EINVAL;
}

static long frontend_get_property(struct frontend_file *state, void __user *arg)
{
	struct dtv_properties request;
	struct dtv_property *props;
	char tag[40];
	long ret;

	if (copy_from_user(&request, arg, sizeof(request)))
		return -EFAULT;
	if (!request.num || request.num > DTV_IOCTL_MAX_MSGS)
		return -EINVAL;
	props = memdup_user((void __user *)request.props, request.num * sizeof(*props));
	if (IS_ERR(props))
		return PTR_ERR(props);
	mutex_lock(&simrx_lock);
	ret = get_properties(state->bus, node_tag(tag, sizeof(tag), false, state->bus),
			     props, request.num);
	mutex_unlock(&simrx_lock);
	if (!ret && copy_to_user((void __user *)request.props, props, request.num * sizeof(*props)))
		ret = -EFAULT;
	kfree(props);
	return ret;
}

static long frontend_ioctl(struct file *file, unsigned int cmd, unsigned long arg)
{
	struct frontend_file *state = file->private_data;
	struct dvb_diseqc_master_cmd message;
	char tag[40];
	long ret;

	if (cmd == FE_GET_PROPERTY)
		return frontend_get_property(state, (void __user *)arg);
	if (cmd == FE_DISEQC_SEND_MASTER_CMD &&
	    copy_from_user(&message, (void __user *)arg, sizeof(message)))
		return -EFAULT;
	mutex_lock(&simrx_lock);
	node_tag(tag, sizeof(tag), false, state->bus);
	/* A read-only descriptor sets nothing, as in dvb-core. */
	if (!state->writer) {
		log_line("ioctl %s0x%x -> -1", tag, cmd);
		mutex_unlock(&simrx_lock);
		return -EPERM;
	}
	switch (cmd) {
	case FE_SET_VOLTAGE:
		ret = set_voltage(state->bus, tag, arg);
		break;
	case FE_SET_TONE:
		ret = set_tone(state->bus, tag, arg);
		break;
	case FE_DISEQC_SEND_MASTER_CMD:
		ret = send_diseqc(state->bus, tag, &message);
		break;
	case FE_DISEQC_SEND_BURST:
		ret = send_burst(state->bus, tag, arg);
		break;
	default:
		log_line("ioctl %s0x%x -> -1", tag, cmd);
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

/* Under load_lock, not simrx_lock: see the lock's comment. */
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

/* Files still open keep working: their state is their own, not the node's. */
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

static void reset_receiver(void)
{
	int n;

	step_count = fault_count = listing_lines = answer_count = 0;
	fault_open = fault_listing = fault_frontend_open = fault_frontend_lnb = false;
	first_setting = (struct cable){ 'H', false, true, 0 };
	for (n = 0; n < MAX_TUNERS; n++) {
		tuners[n].cable = n;
		tuners[n].follower = tuners[n].busy = false;
		cables[n] = first_setting;
	}
	log_length = 0;
}

static bool valid_tuner(int n)
{
	return n >= 0 && n < MAX_TUNERS && tuners[n].registered;
}

static int load_lnb(const char *line)
{
	char polarisation;
	u32 band;
	int n;

	if (sscanf(line, "lnb %c %u", &polarisation, &band) != 2 ||
	    (polarisation != 'H' && polarisation != 'V') || band > 1)
		return -EINVAL;
	first_setting = (struct cable){ polarisation, band, true, 0 };
	for (n = 0; n < MAX_TUNERS; n++)
		cables[n] = first_setting;
	return 0;
}

/* No chains: the source drives its own cable and feeds no one yet. */
static int load_input(int n, int from)
{
	int k;

	if (!valid_tuner(n) || !valid_tuner(from) || n == from || tuners[from].follower)
		return -EINVAL;
	for (k = 0; k < MAX_TUNERS; k++)
		if (tuners[k].follower && tuners[k].cable == n)
			return -EINVAL;
	tuners[n].cable = tuners[from].cable;
	tuners[n].follower = true;
	return 0;
}

static int load_answer(const char *line)
{
	struct answer *a;
	u32 *w;

	if (answer_count >= MAX_ANSWERS)
		return -ENOSPC;
	a = &answers[answer_count];
	w = a->result.words;
	if (sscanf(line, "answer %u %c %u %u %u %u %u %u %u %u %u %u %u %u %u",
		   &a->cable, &a->polarisation, &a->high_band, &a->route, &a->frequency,
		   &a->symbol_rate_min, &a->symbol_rate_max, &w[0], &w[1], &w[2],
		   &w[3], &w[4], &w[5], &w[6], &w[7]) != 15 || a->cable >= MAX_TUNERS)
		return -EINVAL;
	answer_count++;
	return 0;
}

static int load_step(const char *line)
{
	struct step *s;

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

static int load_line(const char *line)
{
	long long at;
	int n, from, request, ret;

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
	if (!strncmp(line, "lnb ", 4))
		return load_lnb(line);
	if (sscanf(line, "input %d %d", &n, &from) == 2)
		return load_input(n, from);
	if (!strcmp(line, "single cable")) {
		for (n = 0; n < MAX_TUNERS; n++)
			tuners[n].cable = 0;
		return 0;
	}
	if (sscanf(line, "busy %d", &n) == 1)
		return valid_tuner(n) ? (tuners[n].busy = true, 0) : -EINVAL;
	if (!strncmp(line, "answer ", 7))
		return load_answer(line);
	if (sscanf(line, "fault %d %lld %d", &request, &at, &ret) == 3) {
		if (fault_count >= MAX_FAULTS)
			return -ENOSPC;
		faults[fault_count++] = (struct fault){ request, at, ret };
		return 0;
	}
	if (!strncmp(line, "step ", 5))
		return load_step(line);
	return -EINVAL;
}

/* The lines that (un)register nodes run outside simrx_lock. */
static int load_locked_line(const char *line)
{
	int err = 0, n;

	if (!strcmp(line, "reset")) {
		remove_tuners();
		mutex_lock(&simrx_lock);
		reset_receiver();
		mutex_unlock(&simrx_lock);
		return 0;
	}
	if (sscanf(line, "frontend %d", &n) == 1)
		return n >= 0 && n < MAX_TUNERS ? add_tuner(n) : -EINVAL;
	mutex_lock(&simrx_lock);
	err = load_line(line);
	mutex_unlock(&simrx_lock);
	return err;
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
	mutex_lock(&load_lock);
	err = load_locked_line(line);
	mutex_unlock(&load_lock);
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

	mutex_lock(&simrx_lock);
	for (i = 0; i < listing_lines; i++)
		seq_printf(m, "%s\n", listing[i]);
	mutex_unlock(&simrx_lock);
	return 0;
}

static int listing_open(struct inode *inode, struct file *file)
{
	bool fail;

	mutex_lock(&simrx_lock);
	fail = fault_listing;
	log_line("open /proc/bus/nim_sockets -> %s", fail ? "fail" : "ok");
	mutex_unlock(&simrx_lock);
	if (fail)
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
	reset_receiver();
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
